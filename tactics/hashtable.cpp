#include "tactics/hashtable.h"

void prepareHashTables() {}
