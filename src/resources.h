// The files a report refers to beside it, in a folder "res": the stylesheet
// and the input icons. The program carries them, so a report opens complete
// wherever it is written.
#pragma once

#include "files.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace resources {

// The folder a report refers to, and its stylesheet's path from the report.
inline constexpr std::string_view folder_name = "res";
inline constexpr std::string_view stylesheet_path = "res/pretty.css";

struct file {
    std::string_view name; // within the folder
    std::span<const unsigned char> bytes;
};

// Every file of the folder, byte for byte as in the project's res/.
std::span<const file> built_in();

struct failure {
    std::string path;
    int error; // errno value
};

// What writing the folder beside one report did.
struct outcome {
    std::string folder;            // the folder's name, as the report's name places it
    std::size_t written = 0;       // files that were missing and are now in place
    std::vector<failure> failures; // the folder (first, and then alone) or the files that could not be written
    bool others = false;           // the folder belongs to another user
};

// Writes every built-in file that is missing into the folder beside
// `report_name`, within `beside`, the folder of that name, held since its
// first look; makes the folder where needed. A file that exists is kept as
// it is. Each file appears under its name only once it is complete. A folder
// that takes no new file is one failure, its own.
outcome write_beside(const std::string& report_name, const files::held_folder& beside);

} // namespace resources
