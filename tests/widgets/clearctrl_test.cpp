#include "widgets/clearctrl.h"
