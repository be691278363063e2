#include "app/Convert.h"
