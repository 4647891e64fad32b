#include "Http.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <curl/curl.h>
#include <exception>
#include <fstream>
#include <ifaddrs.h>
#include <iterator>
#include <memory>
#include <mutex>
#include <net/if.h>
#include <sys/socket.h>

#include "Config.h"
#include "Text.h"

namespace orvex::Http {
namespace {

using Code = TransportError::Code;

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct URLDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

void initialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string readWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return {};
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// libcurl takes one CA bundle and the extra one must not displace the system's, so both are
// handed over together as one in-memory bundle. The system part is read once per process.
const std::string& systemBundle() {
    static const std::string bundle = [] {
        const char* path = nullptr;
        std::unique_ptr<CURL, EasyDeleter> probe(curl_easy_init());
        if (probe) curl_easy_getinfo(probe.get(), CURLINFO_CAINFO, &path);
        if (path == nullptr) path = curl_version_info(CURLVERSION_NOW)->cainfo;
        return path != nullptr ? readWholeFile(path) : std::string();
    }();
    return bundle;
}

// Without any interface that could carry traffic, a failed name lookup or connection means
// the machine is offline rather than that the server is missing.
bool hasNetworkInterface() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return true;
    bool found = false;
    for (ifaddrs* entry = list; entry != nullptr && !found; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr) continue;
        int family = entry->ifa_addr->sa_family;
        bool usable = (entry->ifa_flags & IFF_UP) && (entry->ifa_flags & IFF_RUNNING) &&
                      !(entry->ifa_flags & IFF_LOOPBACK);
        found = usable && (family == AF_INET || family == AF_INET6);
    }
    freeifaddrs(list);
    return found;
}

Code classify(CURLcode result, long osErrno) {
    switch (result) {
    case CURLE_OPERATION_TIMEDOUT:
        return Code::timedOut;
    case CURLE_COULDNT_CONNECT:
        if (osErrno == ENETUNREACH || osErrno == ENETDOWN || !hasNetworkInterface())
            return Code::notConnectedToInternet;
        return Code::cannotConnectToHost;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return hasNetworkInterface() ? Code::cannotFindHost : Code::notConnectedToInternet;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return Code::serverCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
        return Code::secureConnectionFailed;
    case CURLE_URL_MALFORMAT:
        return Code::badURL;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return Code::unsupportedURL;
    case CURLE_TOO_MANY_REDIRECTS:
        return Code::tooManyRedirects;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
        return Code::networkConnectionLost;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_BAD_CONTENT_ENCODING:
        return Code::badServerResponse;
    case CURLE_FILESIZE_EXCEEDED:
        return Code::dataLengthExceedsMaximum;
    case CURLE_ABORTED_BY_CALLBACK:
        return Code::cancelled;
    default:
        return Code::unknown;
    }
}

// State shared with libcurl's callbacks for the length of one request.
struct Transfer {
    const Request* request = nullptr;
    CURL* easy = nullptr;
    bool bodyStarted = false;
    Response response;
    std::uint64_t received = 0;
    bool overLimit = false;
    std::uint64_t headerBytes = 0;
    std::uint64_t moved = 0;
    std::chrono::steady_clock::time_point lastMoved = std::chrono::steady_clock::now();
    bool idle = false;
    std::exception_ptr failure;
};

size_t onBody(char* data, size_t size, size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    size_t length = size * count;
    transfer->received += length;
    if (!transfer->bodyStarted && transfer->request->onBodyStart) {
        transfer->bodyStarted = true;
        long status = 0;
        curl_off_t announced = -1;
        curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(transfer->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        try {
            transfer->request->onBodyStart(status, announced > 0 ? static_cast<std::uint64_t>(announced) : 0);
        } catch (...) {
            transfer->failure = std::current_exception();
            return CURL_WRITEFUNC_ERROR;
        }
    }
    if (transfer->request->maxBytes && transfer->received > *transfer->request->maxBytes) {
        transfer->overLimit = true;
        return CURL_WRITEFUNC_ERROR;
    }
    if (!transfer->request->onData) {
        transfer->response.body.append(data, length);
        return length;
    }
    try {
        transfer->request->onData(std::string_view(data, length));
    } catch (...) {
        transfer->failure = std::current_exception();
        return CURL_WRITEFUNC_ERROR;
    }
    return length;
}

size_t onHeader(char* data, size_t size, size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    size_t length = size * count;
    transfer->headerBytes += length;
    std::string_view line(data, length);
    // Each answer of a redirect chain (and an interim 100) starts with its status line;
    // only the last answer's headers describe the body.
    if (line.starts_with("HTTP/")) {
        transfer->response.headers.clear();
        return length;
    }
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return length;
    transfer->response.headers.emplace_back(std::string(line.substr(0, colon)),
                                            Text::trim(line.substr(colon + 1)));
    return length;
}

int onProgressTick(void* context, curl_off_t downloadTotal, curl_off_t downloaded, curl_off_t,
                   curl_off_t uploaded) {
    auto* transfer = static_cast<Transfer*>(context);
    if (transfer->request->idleTimeout > 0) {
        auto now = std::chrono::steady_clock::now();
        std::uint64_t moved = transfer->headerBytes + static_cast<std::uint64_t>(downloaded) +
                              static_cast<std::uint64_t>(uploaded);
        if (moved != transfer->moved) {
            transfer->moved = moved;
            transfer->lastMoved = now;
        } else if (now - transfer->lastMoved >=
                   std::chrono::duration<double>(transfer->request->idleTimeout)) {
            transfer->idle = true;
            return 1;
        }
    }
    if (!transfer->request->onProgress) return 0;
    try {
        bool goOn = transfer->request->onProgress(static_cast<std::uint64_t>(downloaded),
                                                  static_cast<std::uint64_t>(downloadTotal));
        return goOn ? 0 : 1;
    } catch (...) {
        transfer->failure = std::current_exception();
        return 1;
    }
}

long milliseconds(double seconds) { return seconds <= 0 ? 0 : static_cast<long>(seconds * 1000.0 + 0.5); }

} // namespace

TransportError::TransportError(Code code, std::string libraryDetail)
    : std::runtime_error(describe(code)), code(code), libraryDetail(std::move(libraryDetail)) {}

const char* TransportError::describe(Code code) {
    switch (code) {
    case Code::timedOut:
        return "The request timed out.";
    case Code::cannotConnectToHost:
        return "Could not connect to the server.";
    case Code::notConnectedToInternet:
        return "The Internet connection appears to be offline.";
    case Code::cannotFindHost:
        return "A server with the specified hostname could not be found.";
    case Code::secureConnectionFailed:
        return "An SSL error has occurred and a secure connection to the server cannot be made.";
    case Code::serverCertificateUntrusted:
        return "The certificate for this server is invalid.";
    case Code::networkConnectionLost:
        return "The network connection was lost.";
    case Code::badURL:
        return "bad URL";
    case Code::unsupportedURL:
        return "unsupported URL";
    case Code::tooManyRedirects:
        return "too many HTTP redirects";
    case Code::badServerResponse:
        return "The server returned an invalid response.";
    case Code::dataLengthExceedsMaximum:
        return "resource exceeds maximum size";
    case Code::cancelled:
        return "cancelled";
    case Code::unknown:
        break;
    }
    return "An unknown network error occurred.";
}

std::optional<std::string> Response::header(std::string_view name) const {
    std::string wanted = Text::asciiLower(name);
    for (const auto& [key, value] : headers)
        if (Text::asciiLower(key) == wanted) return value;
    return std::nullopt;
}

bool isValidURL(const std::string& url) {
    initialiseOnce();
    std::unique_ptr<CURLU, URLDeleter> parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return false;
    char* scheme = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) return false;
    std::string lowered = Text::asciiLower(scheme);
    curl_free(scheme);
    return lowered == "http" || lowered == "https";
}

std::optional<std::string> replacingOrigin(const std::string& url, const std::string& origin) {
    initialiseOnce();
    std::unique_ptr<CURLU, URLDeleter> target(curl_url());
    std::unique_ptr<CURLU, URLDeleter> source(curl_url());
    if (!target || !source || curl_url_set(target.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
        curl_url_set(source.get(), CURLUPART_URL, origin.c_str(), 0) != CURLUE_OK)
        return std::nullopt;
    auto part = [](CURLU* handle, CURLUPart which) -> std::optional<std::string> {
        char* value = nullptr;
        if (curl_url_get(handle, which, &value, 0) != CURLUE_OK || value == nullptr) return std::nullopt;
        std::string text(value);
        curl_free(value);
        return text;
    };
    auto scheme = part(source.get(), CURLUPART_SCHEME);
    auto host = part(source.get(), CURLUPART_HOST);
    if (!scheme || !host || host->empty() || !part(target.get(), CURLUPART_HOST)) return std::nullopt;
    auto port = part(source.get(), CURLUPART_PORT);
    if (curl_url_set(target.get(), CURLUPART_SCHEME, scheme->c_str(), 0) != CURLUE_OK ||
        curl_url_set(target.get(), CURLUPART_HOST, host->c_str(), 0) != CURLUE_OK ||
        curl_url_set(target.get(), CURLUPART_PORT, port ? port->c_str() : nullptr, 0) != CURLUE_OK)
        return std::nullopt;
    return part(target.get(), CURLUPART_URL);
}

Response perform(const Request& request) {
    initialiseOnce();
    std::unique_ptr<CURL, EasyDeleter> handle(curl_easy_init());
    if (!handle) throw TransportError(Code::unknown, "curl_easy_init failed");
    CURL* easy = handle.get();

    Transfer transfer;
    transfer.request = &request;
    transfer.easy = easy;
    char libraryMessage[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, libraryMessage);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, milliseconds(request.timeout));
    double connectLimit = request.connectTimeout > 0 ? request.connectTimeout : request.timeout;
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, milliseconds(connectLimit));
    if (request.maxBytes)
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(*request.maxBytes));

    std::string bundle;
    if (std::string extra = Config::caFile(); !extra.empty()) {
        bundle = systemBundle() + "\n" + readWholeFile(extra);
        curl_blob blob{bundle.data(), bundle.size(), CURL_BLOB_NOCOPY};
        curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
    }

    if (request.method == "GET" && !request.body) {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (request.method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
        if (request.method == "POST" || request.body) {
            // libcurl reads the body during the transfer, so it must point into `request` itself.
            const char* data = request.body ? request.body->data() : "";
            size_t size = request.body ? request.body->size() : 0;
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, data);
        }
        if (request.method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }

    std::unique_ptr<curl_slist, ListDeleter> headerList;
    auto appendHeader = [&](const std::string& line) {
        curl_slist* grown = curl_slist_append(headerList.get(), line.c_str());
        if (grown == nullptr) throw std::bad_alloc();
        headerList.release();
        headerList.reset(grown);
    };
    for (const auto& [name, value] : request.headers) appendHeader(name + ": " + value);
    // A large body must not sit waiting for a "100 Continue" the server may never send, and
    // libcurl's own form-encoding content type must not appear unless the caller asked for one.
    appendHeader("Expect:");
    bool hasContentType = false;
    for (const auto& header : request.headers)
        hasContentType = hasContentType || Text::asciiLower(header.first) == "content-type";
    if (!hasContentType) appendHeader("Content-Type:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList.get());

    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
    if (request.onProgress || request.idleTimeout > 0) {
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, onProgressTick);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);
    }

    CURLcode result = curl_easy_perform(easy);
    if (transfer.failure) std::rethrow_exception(transfer.failure);
    if (result != CURLE_OK) {
        if (transfer.overLimit) result = CURLE_FILESIZE_EXCEEDED;
        if (transfer.idle) {
            result = CURLE_OPERATION_TIMEDOUT;
            std::snprintf(libraryMessage, sizeof libraryMessage, "no data moved for %g seconds",
                          request.idleTimeout);
        }
        long osErrno = 0;
        curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osErrno);
        std::string detail = libraryMessage[0] != '\0' ? libraryMessage : curl_easy_strerror(result);
        throw TransportError(classify(result, osErrno), detail);
    }
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &transfer.response.status);
    return std::move(transfer.response);
}

} // namespace orvex::Http
