// Console driver of the DNS-SD layer for the end-to-end tests: hosts the daemon on a thread and
// makes client calls, one command per line on standard input, fields separated by '|'. Every
// answer ends with "OK" or "ERROR <reason>". Replies are collected by one worker thread per
// reference (WSAEventSelect + DNSServiceProcessResult, as the program's service threads do) and
// printed by "events".
//   start | stop|<grace ms> | heap | log | ifaces | events
//   browse|<id>|<if>|<regtype>          resolve|<id>|<if>|<name>|<regtype>|<domain>
//   addr|<id>|<if>|<host>                register|<id>|<if>|<name>|<regtype>|<port>|<txt>|<flags>
//   close|<id>
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include "dnssd/dns_sd.h"
#include "dnssd/responder.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::mutex gLock;
std::vector<std::string> gEvents;
std::vector<std::string> gLog;
std::thread gDaemon;

void AddEvent(const std::string& line)
{
    std::lock_guard<std::mutex> hold(gLock);
    gEvents.push_back(line);
}

void LogHook(const char* line)
{
    std::lock_guard<std::mutex> hold(gLock);
    gLog.push_back(line);
}

std::string Hex(const unsigned char* data, size_t size)
{
    std::string text;
    char two[3];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(two, sizeof(two), "%02x", data[i]);
        text += two;
    }
    return text;
}

struct Request
{
    std::string id;
    DNSServiceRef ref = nullptr;
    std::atomic<bool> run{true};
    std::thread worker;
};
std::map<std::string, std::unique_ptr<Request>> gRequests;

std::string Head(void* context, const char* kind, DNSServiceFlags flags, uint32_t ifIndex,
                 DNSServiceErrorType err)
{
    std::ostringstream s;
    s << static_cast<Request*>(context)->id << "|" << kind << "|" << flags << "|" << ifIndex << "|" << err;
    return s.str();
}

void DNSSD_API OnBrowse(DNSServiceRef, DNSServiceFlags flags, uint32_t ifIndex, DNSServiceErrorType err,
                        const char* name, const char* type, const char* domain, void* context)
{
    AddEvent(Head(context, "browse", flags, ifIndex, err) + "|" + name + "|" + type + "|" + domain);
}

void DNSSD_API OnResolve(DNSServiceRef, DNSServiceFlags flags, uint32_t ifIndex, DNSServiceErrorType err,
                         const char* fullname, const char* host, uint16_t port, uint16_t txtLen,
                         const unsigned char* txt, void* context)
{
    AddEvent(Head(context, "resolve", flags, ifIndex, err) + "|" + fullname + "|" + host + "|" +
             std::to_string(ntohs(port)) + "|" + (txt != nullptr ? Hex(txt, txtLen) : "null"));
}

void DNSSD_API OnAddress(DNSServiceRef, DNSServiceFlags flags, uint32_t ifIndex, DNSServiceErrorType err,
                         const char* host, const sockaddr* address, uint32_t ttl, void* context)
{
    std::string text = "null";
    if (address != nullptr) {
        text = inet_ntoa(reinterpret_cast<const sockaddr_in*>(address)->sin_addr);
    }
    AddEvent(Head(context, "addr", flags, ifIndex, err) + "|" + host + "|" + text + "|" +
             std::to_string(ttl));
}

void DNSSD_API OnRegister(DNSServiceRef, DNSServiceFlags flags, DNSServiceErrorType err, const char* name,
                          const char* type, const char* domain, void* context)
{
    AddEvent(Head(context, "register", flags, 0, err) + "|" + name + "|" + type + "|" + domain);
}

void Worker(Request* r)
{
    WSAEVENT event = WSACreateEvent();
    WSAEventSelect(DNSServiceRefSockFD(r->ref), event, FD_READ | FD_CLOSE);
    while (r->run) {
        if (WaitForSingleObject(event, 100) != WAIT_OBJECT_0) {
            continue;
        }
        WSAResetEvent(event);
        DNSServiceErrorType rc = DNSServiceProcessResult(r->ref);
        if (rc != kDNSServiceErr_NoError) {
            AddEvent(r->id + "|failed|" + std::to_string(rc));
            break;
        }
    }
    WSACloseEvent(event);
}

std::vector<std::string> Split(const std::string& line)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream s(line);
    while (std::getline(s, part, '|')) {
        parts.push_back(part);
    }
    if (!line.empty() && line.back() == '|') {
        parts.push_back("");
    }
    return parts;
}

std::string Command(const std::vector<std::string>& a)
{
    const std::string& c = a[0];
    auto need = [&](size_t n) { return a.size() >= n; };
    if (c == "start") {
        ResponderSetLogHook(LogHook);
        if (gDaemon.joinable()) {
            gDaemon.join();
        }
        gDaemon = std::thread([] {
            wchar_t empty[] = L"", server[] = L"-server";
            wchar_t* argv[] = {empty, server};
            ResponderServiceMain(2, argv);
        });
        for (int i = 0; i < 60 && gResponderReady == 0 && (i < 5 || gResponderRunning != 0); ++i) {
            Sleep(100);
        }
        std::cout << "ready=" << gResponderReady << " running=" << gResponderRunning << "\n";
        return "";
    }
    if (c == "stop") {
        ResponderServiceStopWithin(need(2) ? static_cast<uint32_t>(std::atoi(a[1].c_str())) : 0);
        if (gDaemon.joinable()) {
            gDaemon.join();
        }
        std::cout << "running=" << gResponderRunning << " ready=" << gResponderReady
                  << " bytes=" << TrackedMemBytes() << " blocks=" << TrackedMemBlocks() << "\n";
        return "";
    }
    if (c == "heap") {
        std::cout << "bytes=" << TrackedMemBytes() << " blocks=" << TrackedMemBlocks() << "\n";
        return "";
    }
    if (c == "events" || c == "log") {
        std::lock_guard<std::mutex> hold(gLock);
        std::vector<std::string>& list = c == "events" ? gEvents : gLog;
        for (const std::string& e : list) {
            std::cout << e << "\n";
        }
        list.clear();
        return "";
    }
    if (c == "ifaces") {
        ULONG size = 0;
        GetIpAddrTable(nullptr, &size, FALSE);
        std::vector<char> buffer(size);
        MIB_IPADDRTABLE* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
        if (GetIpAddrTable(table, &size, FALSE) == NO_ERROR) {
            for (DWORD i = 0; i < table->dwNumEntries; ++i) {
                in_addr addr;
                addr.s_addr = table->table[i].dwAddr;
                std::cout << table->table[i].dwIndex << "|" << inet_ntoa(addr) << "\n";
            }
        }
        return "";
    }
    if (c == "close" && need(2)) {
        auto it = gRequests.find(a[1]);
        if (it == gRequests.end()) {
            return "no such request";
        }
        it->second->run = false;
        it->second->worker.join();
        DNSServiceRefDeallocate(it->second->ref);
        gRequests.erase(it);
        return "";
    }
    if (!need(3) || gRequests.count(a[1]) != 0) {
        return "bad command";
    }
    std::unique_ptr<Request> r(new Request);
    r->id = a[1];
    const uint32_t ifIndex = static_cast<uint32_t>(std::strtoul(a[2].c_str(), nullptr, 10));
    DNSServiceErrorType rc = kDNSServiceErr_BadParam;
    if (c == "browse" && need(4)) {
        rc = DNSServiceBrowse(&r->ref, 0, ifIndex, a[3].c_str(), "", OnBrowse, r.get());
    } else if (c == "resolve" && need(6)) {
        rc = DNSServiceResolve(&r->ref, 0, ifIndex, a[3].c_str(), a[4].c_str(), a[5].c_str(), OnResolve,
                               r.get());
    } else if (c == "addr" && need(4)) {
        rc = DNSServiceGetAddrInfo(&r->ref, kDNSServiceFlagsTimeout, ifIndex, kDNSServiceProtocol_IPv4,
                                   a[3].c_str(), OnAddress, r.get());
    } else if (c == "register" && need(8)) {
        rc = DNSServiceRegister(&r->ref, static_cast<DNSServiceFlags>(std::strtoul(a[7].c_str(), nullptr, 0)),
                                ifIndex, a[3].c_str(), a[4].c_str(), "", "",
                                htons(static_cast<uint16_t>(std::atoi(a[5].c_str()))),
                                static_cast<uint16_t>(a[6].size()), a[6].data(), OnRegister, r.get());
    } else {
        return "bad command";
    }
    std::cout << "status=" << rc << "\n";
    if (rc == kDNSServiceErr_NoError) {
        Request* raw = r.get();
        r->worker = std::thread(Worker, raw);
        gRequests[a[1]] = std::move(r);
    }
    return "";
}

} // namespace

int main()
{
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        if (line == "quit") {
            break;
        }
        std::string error = Command(Split(line));
        std::cout << (error.empty() ? "OK" : "ERROR " + error) << std::endl;
    }
    for (auto& r : gRequests) {
        r.second->run = false;
        r.second->worker.join();
        DNSServiceRefDeallocate(r.second->ref);
    }
    if (gResponderRunning != 0) {
        ResponderServiceStopWithin(0);
    }
    if (gDaemon.joinable()) {
        gDaemon.join();
    }
    return 0;
}
