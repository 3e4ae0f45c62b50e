#pragma once
// The request log of one server item in "Logs/Web": one line per connection,
// appended by the connection threads while the accept thread may start a new
// file. Every use goes through one lock, so no thread writes to a file that
// another has just closed.
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/file_io.h"

namespace qm::http {

class RequestLog {
public:
    explicit RequestLog(std::filesystem::path folder) : folder_(std::move(folder)) {}

    // Opens "http_DDMMYYYY_hhmmss.log" named by the local time now, closing
    // the current file first. A file that cannot be opened is simply not written.
    void OpenNew();
    // Appends the line and CR LF, when a file is open.
    void Write(std::string_view line);
    void Close();
    bool IsOpen();
    std::filesystem::path CurrentPath();

private:
    const std::filesystem::path folder_;
    std::mutex mutex_;
    platform::AppendFile file_;
    std::filesystem::path path_;
    bool open_ = false;
};

}  // namespace qm::http
