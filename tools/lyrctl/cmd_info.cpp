#include "cli_support.h"
