#include "compat/inputs.hpp"

#include <string>

#include "compat/console.hpp"
#include "io/file.hpp"

namespace velk::compat {

bool input_refused(const char* name, input_use use, const char* line_end) {
    if (name == nullptr) return false;
    switch (kind_of(name)) {
        case path_kind::missing:
        case path_kind::regular:
            return false;
        case path_kind::directory:
            say("%s is a directory%s", name, line_end);
            return true;
        case path_kind::other:
            if (use == input_use::streamed) return false;
            say("%s is not a regular file; its size cannot be known%s", name, line_end);
            return true;
    }
    return false;
}

}  // namespace velk::compat
