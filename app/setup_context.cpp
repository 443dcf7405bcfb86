#include "app/setup_context.h"

SetupContext g_setup = {};
