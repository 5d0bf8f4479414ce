// The command table looks for the drive commands under this name.
#pragma once

#include "cli/drive_commands.h"
