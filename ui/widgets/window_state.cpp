#include "ui/widgets/window_state.h"

namespace kestrix {

namespace {

constexpr bool tableInEnumOrder() {
  for (std::size_t at = 0; at < kWindowStateTable.size(); ++at)
    if (static_cast<std::size_t>(kWindowStateTable[at].state) != at) return false;
  return true;
}
// stateControls indexes the table by the state.
static_assert(tableInEnumOrder(), "kWindowStateTable needs one row per state, in enum order");

}  // namespace

const StateControls& stateControls(WindowState state) {
  return kWindowStateTable[static_cast<std::size_t>(state)];
}

bool isLive(Live cell, const WindowFacts& facts) {
  switch (cell) {
    case Live::Off: return false;
    case Live::On: return true;
    case Live::IfDriveChosen: return facts.driveChosen;
    case Live::IfImageScannable: return facts.imageScannable;
    case Live::IfRowsListed: return facts.rowsListed;
    case Live::IfRowsShownOrSelected: return facts.rowsShownOrSelected;
  }
  return false;
}

EnabledControls enabledControls(WindowState state, const WindowFacts& facts) {
  const StateControls& row = stateControls(state);
  return {isLive(row.browse, facts),  isLive(row.createImage, facts), isLive(row.scan, facts),
          isLive(row.restore, facts), isLive(row.selectAll, facts),   isLive(row.views, facts),
          isLive(row.tidy, facts),    isLive(row.preview, facts)};
}

const char* windowStateName(WindowState state) {
  switch (state) {
    case WindowState::Idle: return "Idle";
    case WindowState::Copying: return "Copying";
    case WindowState::Scanning: return "Scanning";
    case WindowState::Restoring: return "Restoring";
  }
  return "?";
}

}  // namespace kestrix
