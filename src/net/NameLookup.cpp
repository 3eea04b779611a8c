#include "net/NameLookup.h"

#include <netdb.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "net/SocketErrorCodes.h"
#include "net/WSocketLibrary.h"

namespace vandrel::net {

namespace {

std::atomic<int> g_nextLookupHandle{1};

void fillHostResults(const hostent* h, std::vector<std::string>& out) {
    for (char** a = h->h_addr_list; a && *a; ++a) {
        in_addr in{};
        std::memcpy(&in, *a, sizeof in);
        out.push_back(CountedInetNtoa(in));
    }
}

void fillNameResults(const hostent* h, std::vector<std::string>& out) {
    out.emplace_back(h->h_name ? h->h_name : "");
    for (char** a = h->h_aliases; a && *a; ++a) {
        if (**a) {
            out.emplace_back(*a);
        }
    }
}

// The result texts of a library host record, or the library's error when there is none.
int collectHost(const hostent* h, void (*fill)(const hostent*, std::vector<std::string>&),
                std::vector<std::string>& out) {
    if (!h) {
        return WSocket_WSAGetLastError();
    }
    fill(h, out);
    return 0;
}

}  // namespace

void NameLookup::Clear() {
    Forget();
    m_result.clear();
    m_resultList.clear();
}

void NameLookup::Forget() {
    m_handle = 0;
    m_job.reset();
}

void NameLookup::SetResults(std::vector<std::string> results) {
    m_resultList = std::move(results);
    m_result = m_resultList.empty() ? std::string() : m_resultList.front();
}

void NameLookup::Start(const SocketWindow::Poster& post, unsigned msg,
                       std::function<void(Job&)> work) {
    auto job = std::make_shared<Job>();
    job->handle = g_nextLookupHandle.fetch_add(1);
    if (job->handle <= 0) {
        job->handle = g_nextLookupHandle = 1;
    }
    m_job = job;
    m_handle = job->handle;
    // The lookup in progress counts as a user of the library.
    SocketLibrary::AddSocketUser();
    std::thread([job, work = std::move(work), post, msg] {
        try {
            work(*job);
        } catch (...) {
            job->error = WSANO_RECOVERY;
        }
        post(msg, static_cast<std::uintptr_t>(job->handle),
             static_cast<std::intptr_t>((job->error & 0xFFFF) << 16));
        SocketLibrary::RemoveSocketUser();
    }).detach();
}

bool NameLookup::Complete(std::uintptr_t wParam, int error) {
    if (m_handle == 0 || !m_job || static_cast<int>(wParam) != m_handle) {
        return false;
    }
    const std::shared_ptr<Job> job = std::move(m_job);
    m_handle = 0;
    if (error == 0) {
        SetResults(job->results);
    }
    return true;
}

int NameLookup::AddressesOf(const std::string& name, std::vector<std::string>& out) {
    return collectHost(WSocket_gethostbyname(name.c_str()), fillHostResults, out);
}

int NameLookup::NamesOf(std::uint32_t addrNetOrder, std::vector<std::string>& out) {
    return collectHost(WSocket_gethostbyaddr(&addrNetOrder, sizeof addrNetOrder, AF_INET),
                       fillNameResults, out);
}

}  // namespace vandrel::net
