#include "support/corpus.h"
