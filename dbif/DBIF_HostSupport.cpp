// DBIF_HostSupport.cpp: environment look-up over the process environment.
#include "dbif/DBIF_HostSupport.h"

#include <cstdlib>
#include <cstring>

void hostSetEnvironment(const char* /*applicationName*/) {}

char* hostGetVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr)
        return nullptr;
    const std::size_t size = std::strlen(value) + 1;
    char* copy = static_cast<char*>(std::malloc(size));
    if (copy != nullptr)
        std::memcpy(copy, value, size);
    return copy;
}

void hostFreeString(char* value) {
    std::free(value);
}
