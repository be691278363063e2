#include "sprite/SprFileU.h"
