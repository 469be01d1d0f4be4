// vokari-demo-catalogue: the demo catalogue service on loopback.
//
//   vokari-demo-catalogue [--port N] [--content DIR] [--songs N]
//                         [--fail MODE] [--port-file PATH]
//
// Listens on 127.0.0.1: the catalogue server on N, the file server on N+1
// and the music server on N+2 (N = 18080 by default, which is where the
// program looks unless catalogue.ini in its data folder says
// otherwise). With --port 0 three free ports are taken; --port-file then
// receives "catalogue file music". MODE is one of none, refuse, stall,
// drop, malformed, arrayroot, traversal, hugenumbers, wrongtypes; it can be
// changed while running with GET /_control/fail?mode=MODE. GET
// /_control/log lists the request targets seen so far.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "catalogue-service/DemoCatalogue.h"
#include "platform/net/Socket.h"
#include "platform/thread/Event.h"

namespace {

std::atomic<bool> gQuit{false};

void OnSignal(int) {
    gQuit = true;
}

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 206:
            return "Partial Content";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 416:
            return "Range Not Satisfiable";
        default:
            return "Status";
    }
}

std::string HeaderValue(const std::string& head, const std::string& name) {
    std::string lower = head;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::size_t at = lower.find("\r\n" + name + ":");
    if (at == std::string::npos) {
        return {};
    }
    std::size_t start = at + name.size() + 3;
    while (start < head.size() && head[start] == ' ') {
        ++start;
    }
    return head.substr(start, head.find("\r\n", start) - start);
}

void Serve(platform::TcpSocket socket, demo::DemoCatalogue& catalogue,
           const platform::Event& stop) {
    std::string head;
    char chunk[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        std::size_t n = 0;
        if (head.size() > 65536 ||
            socket.Receive(chunk, n, &stop, 30000) != platform::NetStatus::Ok) {
            return;
        }
        head.append(chunk, n);
    }
    const std::size_t sp1 = head.find(' ');
    const std::size_t sp2 = head.find(' ', sp1 + 1);
    if (sp1 == std::string::npos || sp2 == std::string::npos || head.compare(0, sp1, "GET") != 0) {
        socket.SendAll(std::string_view("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"),
                       &stop, 10000);
        return;
    }
    const std::string target = head.substr(sp1 + 1, sp2 - sp1 - 1);
    const demo::Answer a = catalogue.Handle(target, HeaderValue(head, "range"));
    if (a.stall) {
        const_cast<platform::Event&>(stop).Wait(-1);
        return;
    }
    std::string reply = "HTTP/1.1 " + std::to_string(a.status) + " " + Reason(a.status) +
                        "\r\nContent-Type: " + a.contentType +
                        "\r\nContent-Length: " + std::to_string(a.body.size()) +
                        "\r\nAccept-Ranges: bytes\r\nConnection: close\r\n" + a.extraHeaders +
                        "\r\n";
    reply += a.dropHalf ? a.body.substr(0, a.body.size() / 2) : a.body;
    socket.SendAll(reply, &stop, 10000);
}

}  // namespace

int main(int argc, char** argv) {
    int port = 18080;
    std::string content, portFile;
    int songs = 25;
    demo::Failure failure = demo::Failure::None;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--port" && hasValue) {
            port = std::atoi(argv[++i]);
        } else if (arg == "--content" && hasValue) {
            content = argv[++i];
        } else if (arg == "--songs" && hasValue) {
            songs = std::max(0, std::atoi(argv[++i]));
        } else if (arg == "--port-file" && hasValue) {
            portFile = argv[++i];
        } else if (arg == "--fail" && hasValue) {
            if (!demo::ParseFailure(argv[++i], failure)) {
                std::fprintf(stderr, "unknown failure mode %s\n", argv[i]);
                return 2;
            }
        } else {
            std::fprintf(stderr,
                         "usage: vokari-demo-catalogue [--port N] [--content DIR] [--songs N] "
                         "[--fail MODE] [--port-file PATH]\n");
            return 2;
        }
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    demo::DemoCatalogue catalogue(content, songs);
    catalogue.SetFailure(failure);
    platform::TcpListener listeners[3];
    std::uint16_t ports[3];
    for (int i = 0; i < 3; ++i) {
        const int p = port == 0 ? 0 : port + i;
        if (p > 65535 || !listeners[i].Listen("127.0.0.1", static_cast<std::uint16_t>(p))) {
            std::fprintf(stderr, "cannot listen on 127.0.0.1:%d\n", p);
            return 1;
        }
        ports[i] = listeners[i].Port();
    }
    if (!portFile.empty()) {
        std::ofstream out(portFile + ".tmp");
        out << ports[0] << " " << ports[1] << " " << ports[2] << "\n";
        out.close();
        std::rename((portFile + ".tmp").c_str(), portFile.c_str());
    }
    std::printf(
        "catalogue http://127.0.0.1:%u  file http://127.0.0.1:%u  music http://127.0.0.1:%u\n",
        ports[0], ports[1], ports[2]);
    std::fflush(stdout);

    platform::Event stop(platform::Event::Mode::ManualReset);
    std::mutex workersLock;
    std::vector<std::thread> workers;
    std::vector<std::thread> acceptors;
    for (auto& l : listeners) {
        acceptors.emplace_back([&, listener = &l] {
            while (!gQuit) {
                platform::TcpSocket s;
                const platform::NetStatus st = listener->Accept(s, &stop, 200);
                if (st == platform::NetStatus::Ok) {
                    std::lock_guard lock(workersLock);
                    workers.emplace_back(Serve, std::move(s), std::ref(catalogue), std::cref(stop));
                } else if (st == platform::NetStatus::Stopped) {
                    return;
                }
            }
        });
    }
    while (!gQuit) {
        stop.Wait(200);
    }
    stop.Set();
    for (auto& t : acceptors) {
        t.join();
    }
    std::lock_guard lock(workersLock);
    for (auto& t : workers) {
        t.join();
    }
    return 0;
}
