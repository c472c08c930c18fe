#include "dataset/memtable.h"
#include "rpc/rpcvalue.h"
