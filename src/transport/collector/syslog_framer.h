#pragma once
// Cuts a syslog stream (TCP, or TLS once decrypted) into frames, telling the
// framing of each frame by its first bytes, as senders mix them:
//   octet counting   "123 <34>1 ..."  digits (no leading zero), one space,
//                    then exactly that many bytes, taken as they are;
//   non-transparent  "<34>1 ...\n"    up to LF, CRLF or NUL, which are
//                    dropped (a lone CR stays in the frame).
// A frame longer than the limit is skipped whole, not cut: a counted one by
// its count, a terminated one up to its terminator; the frame after it is
// read as usual, so the stream stays in step. Empty frames are no frames.
// One framer per connection, used by one thread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm::transport {

class FrameSink {
public:
    virtual ~FrameSink() = default;
    // A whole frame; the bytes are valid during the call only.
    virtual void Frame(std::string_view bytes) = 0;
    // A frame over the limit, skipped; `length` is its count, or for a
    // terminated frame how far it had gone when it passed the limit.
    virtual void Oversize(uint64_t length) = 0;
};

class SyslogFramer {
public:
    explicit SyslogFramer(size_t maxFrame) : maxFrame_(maxFrame) {}

    // Hands every frame `bytes` completes to `sink`, keeping an unfinished
    // one for the next call.
    void Feed(std::string_view bytes, FrameSink& sink);
    // The stream has ended: an unterminated last frame is still a frame
    // (senders may close without a final LF); a counted one cut short is not.
    void Finish(FrameSink& sink);

    // Bytes held for the frame under way.
    size_t Held() const { return partial_.size(); }
    // More than this many digits is no count but the start of a line.
    static constexpr int kMaxCountDigits = 9;

private:
    enum class State : uint8_t { kStart, kCount, kCounted, kLine, kSkipCounted, kSkipLine };
    // Each takes what it can from `rest` and returns how much it took.
    size_t Start(std::string_view rest);
    size_t Count(std::string_view rest, FrameSink& sink);
    size_t Counted(std::string_view rest, FrameSink& sink);
    size_t Line(std::string_view rest, FrameSink& sink);
    size_t Skip(std::string_view rest);
    void Emit(std::string_view frame, FrameSink& sink);

    const size_t maxFrame_;
    State state_ = State::kStart;
    uint64_t count_ = 0;      // kCount: the digits so far; kCounted, kSkipCounted: bytes still due
    int digits_ = 0;
    std::string partial_;     // the frame under way, when it spans calls
};

}  // namespace qm::transport
