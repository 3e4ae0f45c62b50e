#include "http/http_request.h"

#include <cctype>

namespace qm::http {

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string_view TrimBlanks(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

// Next line without its end ("\r\n" or "\n"); `rest` moves past it.
std::string_view NextLine(std::string_view& rest) {
    const size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = Lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::optional<std::string_view> HttpRequest::Header(std::string_view name) const {
    for (const HttpHeader& h : headers)
        if (EqualsNoCase(h.name, name)) return std::string_view(h.value);
    return std::nullopt;
}

bool RequestHeadComplete(std::string_view bytes) {
    return bytes.find("\r\n\r\n") != std::string_view::npos || bytes.find("\n\n") != std::string_view::npos;
}

std::optional<HttpRequest> ParseRequest(std::string_view bytes) {
    std::string_view rest = bytes;
    // Blank lines ahead of the request line are tolerated, as clients may
    // send one after a previous body.
    std::string_view first;
    while (!rest.empty() && (first = NextLine(rest)).empty()) {
    }
    if (first.empty()) return std::nullopt;
    HttpRequest request;
    std::string* words[] = {&request.method, &request.uri, &request.version};
    size_t word = 0;
    for (size_t i = 0; i < first.size() && word < 3;) {
        while (i < first.size() && first[i] == ' ') ++i;
        const size_t start = i;
        while (i < first.size() && first[i] != ' ') ++i;
        if (i > start) words[word++]->assign(first.substr(start, i - start));
    }
    if (request.method.empty()) return std::nullopt;
    while (!rest.empty()) {
        const std::string_view line = NextLine(rest);
        if (line.empty()) break;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        request.headers.push_back({std::string(TrimBlanks(line.substr(0, colon))),
                                   std::string(TrimBlanks(line.substr(colon + 1)))});
    }
    request.body.assign(rest);
    return request;
}

std::string HttpResource::RelativePath() const {
    std::string path = directory + name;
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

std::optional<HttpResource> ResolveUri(std::string_view uri) {
    uri = TrimBlanks(uri);
    HttpResource r;
    const size_t question = uri.find('?');
    if (question != std::string_view::npos) {
        r.query.assign(uri.substr(question + 1));
        uri = uri.substr(0, question);
    }
    // "index.html" names the same file as "/index.html": every URI is a path
    // below the web root, so a missing leading separator is implied. What
    // could leave the root (".." segments) is refused below, whatever the
    // spelling; "C:\x" or "http://h/x" become plain names inside the root.
    std::string decoded;
    decoded.reserve(uri.size() + 1);
    if (uri.empty() || (uri.front() != '/' && uri.front() != '\\')) decoded += '/';
    for (size_t i = 0; i < uri.size(); ++i) {
        char c = uri[i];
        if (c == '%') {
            const int high = i + 2 < uri.size() ? HexValue(uri[i + 1]) : -1;
            const int low = high >= 0 ? HexValue(uri[i + 2]) : -1;
            if (low < 0) return std::nullopt;
            c = static_cast<char>(high * 16 + low);
            // A second layer of escapes would read differently to whoever
            // decodes again; one spelling per path leaves no such room.
            if (c == '%') return std::nullopt;
            i += 2;
        }
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::nullopt;
        decoded += c;
    }

    std::vector<std::string_view> segments;
    std::string_view path = decoded;
    std::string_view last;  // what follows the last separator
    for (;;) {
        const size_t end = path.find_first_of("/\\");
        last = path.substr(0, end);
        if (last == "..") return std::nullopt;
        if (!last.empty() && last != ".") segments.push_back(last);
        if (end == std::string_view::npos) break;
        path.remove_prefix(end + 1);
    }
    // A path ending in a separator (or in ".") names a directory.
    if (!last.empty() && last != ".") {
        r.name.assign(segments.back());
        segments.pop_back();
    }
    r.directory = "\\";
    for (std::string_view s : segments) {
        r.directory.append(s);
        r.directory += '\\';
    }
    if (r.name.empty()) r.name = "index.html";
    const size_t dot = r.name.find('.');
    if (dot == std::string::npos) {
        r.bareName = r.name;
        r.base = r.name;
    } else {
        r.fileName = r.name;
        r.base = r.name.substr(0, dot);
        r.extension = r.name.substr(dot + 1);
    }
    r.key = r.directory + r.name;
    return r;
}

long long QueryNumber(std::string_view query, size_t position) {
    for (size_t i = 0; i < position; ++i) {
        const size_t amp = query.find('&');
        if (amp == std::string_view::npos) return -1;
        query.remove_prefix(amp + 1);
    }
    query = query.substr(0, query.find('&'));
    if (query.empty()) return -1;
    // Read as atoi would: an optional sign, then digits up to the first other character.
    size_t i = 0;
    bool negative = false;
    if (query[0] == '+' || query[0] == '-') {
        negative = query[0] == '-';
        i = 1;
    }
    long long value = 0;
    for (; i < query.size() && std::isdigit(static_cast<unsigned char>(query[i])); ++i) {
        if (value < 1'000'000'000'000LL) value = value * 10 + (query[i] - '0');
    }
    return negative ? -value : value;
}

}  // namespace qm::http
