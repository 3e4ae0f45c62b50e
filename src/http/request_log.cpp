#include "http/request_log.h"

#include "core/text_format.h"
#include "platform/clock.h"
#include "platform/codepage.h"

namespace qm::http {

void RequestLog::OpenNew() {
    const platform::SystemTime t = platform::LocalTimeNow();
    const auto name = core::Format("http_%.2u%.2u%.4u_%.2u%.2u%.2u.log", t.day, t.month, t.year, t.hour, t.minute,
                                   t.second);
    std::lock_guard hold(mutex_);
    if (open_) file_.Close();
    open_ = false;
    if (!name || folder_.empty()) return;
    path_ = folder_ / *name;
    open_ = file_.Open(path_) == 0;
}

void RequestLog::Write(std::string_view line) {
    // UTF-8 whatever the locale; bytes of a request that are not UTF-8
    // become '?', so the file stays readable as UTF-8 throughout.
    std::string bytes = platform::ConvertFromUtf8(line, "UTF-8");
    bytes += "\r\n";
    std::lock_guard hold(mutex_);
    if (open_) file_.Write(bytes);
}

void RequestLog::Close() {
    std::lock_guard hold(mutex_);
    if (open_) file_.Close();
    open_ = false;
}

bool RequestLog::IsOpen() {
    std::lock_guard hold(mutex_);
    return open_;
}

std::filesystem::path RequestLog::CurrentPath() {
    std::lock_guard hold(mutex_);
    return open_ ? path_ : std::filesystem::path();
}

}  // namespace qm::http
