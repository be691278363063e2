#include "archive/SetMemoryStreamU.h"
