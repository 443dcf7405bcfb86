#include "base/setup_context.h"

SetupContext g_setup = {};
