#include "transport/relay/relay_streams.h"

#include <algorithm>
#include <array>

#include "platform/data_file.h"

namespace qm::transport {

namespace {
constexpr uint64_t kWakeTag = 0;
constexpr std::chrono::milliseconds kTickEvery{250};
}  // namespace

int RelayStreams::Start(std::filesystem::path folder) {
    if (thread_.Joinable()) return 0;
    folder_ = std::move(folder);
    if (int error = epoll_.Create()) return error;
    if (int error = wake_.Create()) return error;
    if (int error = epoll_.Add(wake_.Fd(), EPOLLIN, kWakeTag)) return error;
    running_ = true;
    thread_ = platform::Thread(&core_.counters.threads, [this] { Run(); });
    return 0;
}

void RelayStreams::Stop() {
    if (!thread_.Joinable()) return;
    running_ = false;
    wake_.Signal();
    thread_.Join();
    // The thread has closed its links; the last holders of the backlogs go here.
    std::lock_guard lock(publishMutex_);
    published_.clear();
    backlogs_.clear();
    used_.clear();
    refused_.clear();
    generation_ = followed_ = 0;
}

void RelayStreams::Use(const std::vector<StreamTarget>& targets, const Limits& limits) {
    const bool boundChanged = limits.backlogBytes != limits_.backlogBytes;
    if (targets == used_ && !boundChanged && limits.connectTimeout == limits_.connectTimeout) return;
    limits_ = limits;
    std::map<std::string, Wanted> next;
    for (const StreamTarget& target : targets) {
        if (next.count(target.key)) continue;
        if (auto it = backlogs_.find(target.key); it != backlogs_.end()) {
            if (boundChanged) it->second.backlog->SetBound(limits.backlogBytes);
            next[target.key] = {target, it->second.backlog};
            continue;
        }
        const std::filesystem::path file = folder_ / (target.key + ".q");
        auto backlog = std::make_shared<RelayBacklog>();
        int error = folder_.empty() ? ENOENT : platform::MakeFolders(folder_);
        if (error == 0) error = backlog->Open(file, limits.backlogBytes);
        if (error != 0) {
            // Said once; the destination's lines are counted as errors meanwhile.
            if (refused_.insert(target.key).second) core_.Report(core::Severity::Error, core::str::kFileError, file.string(), error);
            continue;
        }
        refused_.erase(target.key);
        if (backlog->Recovered() != 0)
            core_.Report(core::Severity::Info, core::str::kRelayBacklogWaiting, target.label, backlog->Recovered());
        next[target.key] = {target, std::move(backlog)};
    }
    backlogs_ = std::move(next);
    // A backlog that could not be opened is tried again at the next round.
    used_ = targets;
    std::erase_if(used_, [&](const StreamTarget& t) { return !backlogs_.count(t.key); });
    {
        std::lock_guard lock(publishMutex_);
        published_.clear();
        for (const auto& [key, wanted] : backlogs_) published_.push_back(wanted);
        publishedLimits_ = limits;
        ++generation_;
    }
    wake_.Signal();
}

bool RelayStreams::Deliver(const std::string& key, std::span<const std::string_view> lines) {
    const auto it = backlogs_.find(key);
    if (it == backlogs_.end()) return false;
    if (const int error = it->second.backlog->Append(lines)) {
        if (refused_.insert(key).second)
            core_.Report(core::Severity::Error, core::str::kFileError, (folder_ / (key + ".q")).string(), error);
        return false;
    }
    refused_.erase(key);
    wake_.Signal();
    return true;
}

void RelayStreams::Follow() {
    std::vector<Wanted> wanted;
    Limits limits;
    {
        std::lock_guard lock(publishMutex_);
        if (generation_ == followed_) return;
        followed_ = generation_;
        wanted = published_;
        limits = publishedLimits_;
    }
    for (auto it = links_.begin(); it != links_.end();) {
        const auto same = std::find_if(wanted.begin(), wanted.end(), [&](const Wanted& w) { return w.target == it->second->Target(); });
        if (same != wanted.end()) {
            ++it;
            continue;
        }
        it->second->Close(epoll_);
        it = links_.erase(it);
    }
    for (Wanted& w : wanted) {
        std::unique_ptr<StreamLink>& link = links_[w.target.key];
        if (!link) link = std::make_unique<StreamLink>(core_, w.target, w.backlog, nextTag_++, counters_);
        link->SetConnectTimeout(limits.connectTimeout);
    }
}

void RelayStreams::Run() {
    std::array<epoll_event, 64> events;
    auto nextTick = StreamLink::Clock::now();
    while (running_.load()) {
        Follow();
        auto now = StreamLink::Clock::now();
        for (auto& [key, link] : links_) link->Advance(epoll_, now);
        if (now >= nextTick) {
            for (auto& [key, link] : links_) link->Tick(now);
            nextTick = now + kTickEvery;
        }
        auto due = nextTick;
        for (const auto& [key, link] : links_) due = std::min(due, link->Due());
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
        int count = 0;
        epoll_.Wait(events, int(std::clamp<int64_t>(wait, 0, 1000)), count);
        now = StreamLink::Clock::now();
        for (int i = 0; i < count; ++i) {
            if (events[size_t(i)].data.u64 == kWakeTag) {
                wake_.Drain();
                continue;
            }
            for (auto& [key, link] : links_) {
                if (link->Tag() != events[size_t(i)].data.u64) continue;
                link->Ready(epoll_, events[size_t(i)].events, now);
                break;
            }
        }
    }
    for (auto& [key, link] : links_) link->Close(epoll_);
    links_.clear();
}

}  // namespace qm::transport
