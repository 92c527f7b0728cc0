#include "resources.h"

#include "console.h"
#include "new_file.h"

#include <cerrno>

namespace resources {

outcome write_beside(const std::string& report_name, const files::held_folder& beside)
{
    outcome result;
    result.folder = console::folder_of(report_name) + std::string(folder_name);
    files::held_folder folder;
    if (const int error = files::hold_subfolder(beside, std::string(folder_name), folder, result.others); error != 0) {
        result.failures.push_back({result.folder, error});
        return result;
    }
    for (const file& f : built_in()) {
        bool in_folder = false;
        const int error = new_file::write_in(folder, std::string(f.name), f.bytes, in_folder);
        if (error == 0) {
            ++result.written;
        } else if (in_folder) {
            result.failures = {{result.folder, error}};
            return result;
        } else if (error != EEXIST) {
            result.failures.push_back({result.folder + console::path_separator + std::string(f.name), error});
        }
    }
    return result;
}

} // namespace resources
