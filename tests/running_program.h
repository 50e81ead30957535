#pragma once

// RunningProgram lives beside the other rigs of the program.
#include "tests/program_rig.h"
