// Filled in by the archive work.
#include "archive/DirFileU.h"
