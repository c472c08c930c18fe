#include "tests/support/x.h"
