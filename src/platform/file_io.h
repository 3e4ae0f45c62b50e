#pragma once
// Whole-file reads and writes for log files; errors come back as errno values.
#include <filesystem>
#include <string>
#include <string_view>

namespace qm::platform {

// A file opened for appending, written in pieces. A piece that fails is
// taken back off the file, so what stays on disk is whole pieces only.
class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile() { Close(); }
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    int Open(const std::filesystem::path& path);  // 0 or errno
    int Write(std::string_view bytes);             // 0 or errno
    int Close();                                   // 0 or errno (a failed close loses data too)

private:
    int fd_ = -1;
};

// Appends `bytes` and closes the file; 0 only when every byte was written and the close succeeded.
int AppendToFile(const std::filesystem::path& path, std::string_view bytes);
// Replaces the file with `bytes` through a temporary file and a rename, so a
// crash leaves either the old file or the new one, never half of either.
int ReplaceFile(const std::filesystem::path& path, std::string_view bytes);
// Reads the whole file into `out`; 0 or errno (ENOENT when it does not exist).
int ReadWholeFile(const std::filesystem::path& path, std::string& out);

}  // namespace qm::platform
