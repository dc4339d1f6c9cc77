// The process entry: hands control to libgimp.
#include "plug_in_tessaform.h"

MAIN()
