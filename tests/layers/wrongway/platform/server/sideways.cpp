#include "compralegal/exportrun.h"
#include "rpc/rpcvalue.h"
