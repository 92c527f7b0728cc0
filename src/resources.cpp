#include "resources.h"

#include "console.h"
#include "files.h"
#include "outputs.h"

#include <cerrno>

namespace resources {

outcome write_beside(const std::string& report_name)
{
    outcome result;
    result.folder = console::folder_of(report_name) + std::string(folder_name);
    if (const int error = files::make_folder(result.folder); error != 0) {
        result.failures.push_back({result.folder, error});
        return result;
    }
    for (const file& f : built_in()) {
        const std::string path = result.folder + console::path_separator + std::string(f.name);
        const int error = outputs::write_new_file(path, f.bytes);
        if (error == 0) {
            ++result.written;
        } else if (error != EEXIST) {
            result.failures.push_back({path, error});
        }
    }
    return result;
}

} // namespace resources
