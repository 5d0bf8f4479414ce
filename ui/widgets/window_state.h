// What the main window is doing, and which of its controls a user may use
// while it does it.
//
// The window is in exactly one WindowState at a time. Which controls are
// live in a state is written once, in kWindowStateTable below; a cell
// either fixes the control or names a condition on the window's data
// (WindowFacts), which only the window can read. MainWindow::enterState is
// the one place that changes the state and applies the table:
//
//   WindowFacts facts = ...;                        // read from the widgets
//   EnabledControls live = enabledControls(state, facts);
//   browseButton->setEnabled(live.browse); ...
//
// The table is the contract of the window's button states; the window test
// walks the same rows, so the two cannot drift apart.
//
// Not states, on purpose:
// - Checking the rows after a scan: the check pool runs beside the idle
//   window and beside a restore (it has engines of its own), and no control
//   changes while it runs; the status line says so instead.
// - Joining split photos after the checks: the join runs to its end inside
//   one handler on the user-interface thread, so no input reaches the window
//   meanwhile and nothing a user could press needs another state.
// - Closing: a close is either refused (the window stays as it was) or
//   accepted (the workers are stopped and the window goes).
//
// Pure and free of Qt, so its rules can be read and tested without a window.
#pragma once

#include <array>
#include <cstddef>

namespace kestrix {

enum class WindowState {
  Idle,       // no job: the user may pick a drive or an image, scan, restore
  Copying,    // the copy job writes a drive into an image file
  Scanning,   // the scan thread fills the list
  Restoring,  // the job writes chosen rows to files: a restore, or a preview
              // (which restores one row to the temporary folder)
};

constexpr std::size_t kWindowStateCount = 4;

// Data the table's conditional cells ask about. Each is read by the window
// from what it shows (see MainWindow::windowFacts).
struct WindowFacts {
  // The drive box shows a chosen entry, and no image was browsed to since
  // (browsing to another image takes Create image back until a drive is
  // chosen again).
  bool driveChosen = false;
  // The image-name field names an existing file the last check accepted,
  // and no load of it, scan start or copy into it has failed since.
  bool imageScannable = false;
  // The result list holds rows (a restore of nothing only says so).
  bool rowsListed = false;
  // The views show rows, or some row is selected: select-all takes the
  // rows shown, and with every row hidden only its release is left.
  bool rowsShownOrSelected = false;
};

// One cell of the table: a fixed answer or the fact that decides.
enum class Live {
  Off,
  On,
  IfDriveChosen,
  IfImageScannable,
  IfRowsListed,
  IfRowsShownOrSelected,
};

// The controls that change with the state. Help, Exit, the view switch and
// the two scan-mode check boxes are live in every state and not listed.
// `tidy` is the list menu's "ファイル名の整頓" item, made when the menu opens;
// `preview` is the double-click on a row, which starts the preview job: the
// views stay live during a restore (to scroll, select, open the properties)
// but the job is busy, and a preview that fails to start would give every
// button back while the restore still runs.
struct StateControls {
  WindowState state;
  Live browse, createImage, scan, restore, selectAll, views, tidy, preview;
};

// The one table of live controls, a row per state in enum order.
// While a copy runs, Create image is its stop button ("作成中止").
// clang-format off
inline constexpr std::array<StateControls, kWindowStateCount> kWindowStateTable{{
  // state                    browse     create image        scan                     restore             select-all                    views      tidy       preview
  {WindowState::Idle,       Live::On,  Live::IfDriveChosen, Live::IfImageScannable, Live::IfRowsListed, Live::IfRowsShownOrSelected, Live::On,  Live::On,  Live::On},
  {WindowState::Copying,    Live::Off, Live::On,            Live::Off,              Live::Off,          Live::IfRowsShownOrSelected, Live::On,  Live::Off, Live::Off},
  {WindowState::Scanning,   Live::Off, Live::Off,           Live::Off,              Live::Off,          Live::IfRowsShownOrSelected, Live::Off, Live::Off, Live::Off},
  {WindowState::Restoring,  Live::Off, Live::Off,           Live::Off,              Live::Off,          Live::IfRowsShownOrSelected, Live::On,  Live::Off, Live::Off},
}};
// clang-format on

// The table's answers for one state and the window's current facts.
struct EnabledControls {
  bool browse, createImage, scan, restore, selectAll, views, tidy, preview;
  bool operator==(const EnabledControls&) const = default;
};

const StateControls& stateControls(WindowState state);
bool isLive(Live cell, const WindowFacts& facts);
EnabledControls enabledControls(WindowState state, const WindowFacts& facts);
// "Idle", "Copying", …: for test names and messages.
const char* windowStateName(WindowState state);

}  // namespace kestrix
