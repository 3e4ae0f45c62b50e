#include "transport/collector/syslog_framer.h"

#include <algorithm>
#include <cstring>

namespace qm::transport {

namespace {

// Where the first LF or NUL of `s` is, or npos.
size_t FrameEnd(std::string_view s) {
    const void* lf = std::memchr(s.data(), '\n', s.size());
    size_t end = lf ? size_t(static_cast<const char*>(lf) - s.data()) : s.size();
    if (const void* nul = std::memchr(s.data(), '\0', end)) end = size_t(static_cast<const char*>(nul) - s.data());
    return end == s.size() ? std::string_view::npos : end;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

void SyslogFramer::Feed(std::string_view bytes, FrameSink& sink) {
    while (!bytes.empty()) {
        size_t used = 0;
        switch (state_) {
            case State::kStart: used = Start(bytes); break;
            case State::kCount: used = Count(bytes, sink); break;
            case State::kCounted: used = Counted(bytes, sink); break;
            case State::kLine: used = Line(bytes, sink); break;
            case State::kSkipCounted:
            case State::kSkipLine: used = Skip(bytes); break;
        }
        bytes.remove_prefix(used);
    }
}

void SyslogFramer::Finish(FrameSink& sink) {
    // Digits alone, or a line without its terminator, are a last line; a
    // counted frame cut short is not a whole frame.
    if (state_ == State::kCount || state_ == State::kLine) {
        // Held one byte past the limit for a CR that no LF followed.
        if (partial_.size() > maxFrame_) sink.Oversize(partial_.size());
        else Emit(partial_, sink);
    }
    partial_.clear();
    state_ = State::kStart;
    count_ = 0;
    digits_ = 0;
}

size_t SyslogFramer::Start(std::string_view rest) {
    const char c = rest.front();
    if (c == '\n' || c == '\0') return 1;  // an empty frame
    if (c >= '1' && c <= '9') {
        state_ = State::kCount;
        count_ = uint64_t(c - '0');
        digits_ = 1;
        partial_.assign(1, c);  // the start of a line, should no space follow
        return 1;
    }
    state_ = State::kLine;
    return 0;
}

size_t SyslogFramer::Count(std::string_view rest, FrameSink& sink) {
    for (size_t i = 0; i < rest.size(); ++i) {
        const char c = rest[i];
        if (c == ' ') {
            partial_.clear();
            if (count_ > maxFrame_) {
                state_ = State::kSkipCounted;
                sink.Oversize(count_);
            } else {
                state_ = State::kCounted;
            }
            return i + 1;
        }
        if (!IsDigit(c) || digits_ == kMaxCountDigits) {
            // Not a count after all: the digits begin a terminated frame.
            state_ = State::kLine;
            return i;
        }
        count_ = count_ * 10 + uint64_t(c - '0');
        ++digits_;
        partial_ += c;
    }
    return rest.size();
}

size_t SyslogFramer::Counted(std::string_view rest, FrameSink& sink) {
    const size_t take = size_t(std::min<uint64_t>(count_, rest.size()));
    count_ -= take;
    if (partial_.empty() && count_ == 0) {
        // The usual case: the whole frame is in this piece of the stream.
        state_ = State::kStart;
        Emit(rest.substr(0, take), sink);
        return take;
    }
    partial_.append(rest.data(), take);
    if (count_ == 0) {
        state_ = State::kStart;
        Emit(partial_, sink);
        partial_.clear();
    }
    return take;
}

size_t SyslogFramer::Line(std::string_view rest, FrameSink& sink) {
    const size_t end = FrameEnd(rest);
    const size_t piece = end == std::string_view::npos ? rest.size() : end;
    // One byte over the limit may be held: a CR before the LF is no part of the frame.
    if (partial_.size() + piece > maxFrame_ + 1) {
        const uint64_t seen = partial_.size() + piece;
        partial_.clear();
        state_ = end == std::string_view::npos ? State::kSkipLine : State::kStart;
        sink.Oversize(seen);
        return end == std::string_view::npos ? rest.size() : end + 1;
    }
    if (end == std::string_view::npos) {
        partial_.append(rest);
        return rest.size();
    }
    std::string_view frame = rest.substr(0, end);
    if (!partial_.empty()) {
        partial_.append(frame);
        frame = partial_;
    }
    if (rest[end] == '\n' && !frame.empty() && frame.back() == '\r') frame.remove_suffix(1);
    state_ = State::kStart;
    if (frame.size() > maxFrame_) sink.Oversize(frame.size());
    else Emit(frame, sink);
    partial_.clear();
    return end + 1;
}

size_t SyslogFramer::Skip(std::string_view rest) {
    if (state_ == State::kSkipCounted) {
        const size_t take = size_t(std::min<uint64_t>(count_, rest.size()));
        count_ -= take;
        if (count_ == 0) state_ = State::kStart;
        return take;
    }
    const size_t end = FrameEnd(rest);
    if (end == std::string_view::npos) return rest.size();
    state_ = State::kStart;
    return end + 1;
}

void SyslogFramer::Emit(std::string_view frame, FrameSink& sink) {
    if (!frame.empty()) sink.Frame(frame);
}

}  // namespace qm::transport
