#include "package/ssh_signature.h"
