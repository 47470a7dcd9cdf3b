#include "pipeline.h"

char** text = nullptr;
