#include "RealServers.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "TransferFixture.h"
#include "platform/net/Socket.h"

namespace fs = std::filesystem;

namespace testnet {

namespace {

constexpr const char* kPython = "/usr/bin/python3";  // Debian's, which has pyftpdlib

bool IsRoot() {
    return platform::IsSuperUser();
}

}  // namespace

std::uint16_t FreePort() {
    platform::TcpListener l;
    l.Listen("127.0.0.1", 0);
    return l.Port();
}

std::string MissingServer(const std::string& program) {
    if (program == "nginx" && !platform::IsExecutable("/usr/sbin/nginx")) {
        return "nginx is not installed (Debian package nginx-light)";
    }
    if (program == "vsftpd") {
        if (!platform::IsExecutable("/usr/sbin/vsftpd")) {
            return "vsftpd is not installed (Debian package vsftpd)";
        }
        if (!IsRoot()) {
            return "vsftpd needs root";
        }
    }
    if ((program == "python" || program == "pyftpdlib") && !platform::IsExecutable(kPython)) {
        return "/usr/bin/python3 is missing";
    }
    if (program == "pyftpdlib" &&
        !fs::exists("/usr/lib/python3/dist-packages/pyftpdlib/__init__.py")) {
        return "pyftpdlib is not installed (Debian package python3-pyftpdlib)";
    }
    return {};
}

RealServer::RealServer() {
    static int counter = 0;
    dir_ =
        fs::temp_directory_path() / ("vokari-srv-" + std::to_string(platform::CurrentProcessId()) +
                                     "-" + std::to_string(counter++));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    root_ = dir_ / "www";
    fs::create_directories(root_);
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
}

RealServer::~RealServer() {
    process_.Stop();
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

std::string RealServer::Put(const std::string& name, const std::string& bytes) const {
    const fs::path path = root_ / name;
    fs::create_directories(path.parent_path());
    WriteFile(path.string(), bytes);
    return path.string();
}

bool RealServer::Launch(const std::vector<std::string>& argv) {
    const std::string log = (dir_ / "server.log").string();
    if (!process_.Start(argv, log)) {
        error_ = "cannot start " + argv[0];
        return false;
    }
    if (!platform::WaitForPort("127.0.0.1", port_, 15000)) {
        process_.Stop();
        error_ = argv[0] + " did not start: " + ReadFile(log);
        return false;
    }
    return true;
}

bool NginxServer::Start(const std::string& locations) {
    port_ = FreePort();
    const std::string d = dir_.string();
    fs::create_directories(dir_ / "tmp");
    std::ofstream conf(dir_ / "nginx.conf");
    conf << "daemon off;\nmaster_process off;\npid " << d << "/nginx.pid;\n"
         << "error_log " << d << "/error.log;\n"
         << "events { worker_connections 64; }\n"
         << "http {\n"
         << "  log_format vk '$request|$status|$http_range|$http_user_agent|$http_referer|"
            "$http_cookie';\n"
         << "  access_log " << d << "/access.log vk;\n"
         << "  client_body_temp_path " << d << "/tmp/body;\n"
         << "  proxy_temp_path " << d << "/tmp/proxy;\n"
         << "  fastcgi_temp_path " << d << "/tmp/fastcgi;\n"
         << "  uwsgi_temp_path " << d << "/tmp/uwsgi;\n"
         << "  scgi_temp_path " << d << "/tmp/scgi;\n"
         << "  default_type application/octet-stream;\n"
         << "  server {\n    listen 127.0.0.1:" << port_ << ";\n    root " << root_.string()
         << ";\n"
         << locations << "\n  }\n}\n";
    conf.close();
    return Launch({"/usr/sbin/nginx", "-p", d, "-c", d + "/nginx.conf"});
}

std::vector<std::string> NginxServer::Log() const {
    std::vector<std::string> lines;
    std::ifstream in(dir_ / "access.log");
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

bool PythonHttpServer::Start() {
    port_ = FreePort();
    return Launch({kPython, "-m", "http.server", "--bind", "127.0.0.1", std::to_string(port_),
                   "--directory", root_.string()});
}

bool PyFtpServer::Start() {
    port_ = FreePort();
    return Launch({kPython, "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", std::to_string(port_), "-d",
                   root_.string()});
}

bool VsftpdServer::Start(const std::vector<std::string>& banner) {
    port_ = FreePort();
    fs::create_directories(dir_ / "empty");
    // The anonymous root must not be writable.
    fs::permissions(root_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read |
                               fs::perms::others_exec);
    std::ofstream conf(dir_ / "vsftpd.conf");
    conf << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << port_
         << "\nbackground=NO\nanonymous_enable=YES\nno_anon_password=NO\nanon_root="
         << root_.string()
         << "\nlocal_enable=NO\nwrite_enable=NO\npasv_enable=YES\nseccomp_sandbox=NO\n"
            "secure_chroot_dir="
         << (dir_ / "empty").string() << "\nxferlog_enable=NO\nuse_localtime=NO\n";
    if (!banner.empty()) {
        std::ofstream b(dir_ / "banner.txt");
        for (const auto& line : banner) {
            b << line << "\n";
        }
        conf << "banner_file=" << (dir_ / "banner.txt").string() << "\n";
    }
    conf.close();
    return Launch({"/usr/sbin/vsftpd", (dir_ / "vsftpd.conf").string()});
}

}  // namespace testnet

namespace testnet {

bool DemoService::Start(const std::string& failure) {
    const std::string program = std::string(VOKARI_BIN_DIR) + "/vokari-demo-catalogue";
    const std::string portFile = (dir_ / "ports").string();
    const std::string log = (dir_ / "server.log").string();
    if (!process_.Start({program, "--port", "0", "--port-file", portFile, "--fail", failure},
                        log)) {
        error_ = "cannot start " + program;
        return false;
    }
    for (int i = 0; i < 1500 && SizeOf(portFile) <= 0; ++i) {
        if (!process_.IsRunning()) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::ifstream in(portFile);
    unsigned c = 0, f = 0, m = 0;
    if (!(in >> c >> f >> m)) {
        error_ = "the demo service did not start: " + ReadFile(log);
        process_.Stop();
        return false;
    }
    port_ = static_cast<std::uint16_t>(c);
    filePort_ = static_cast<std::uint16_t>(f);
    musicPort_ = static_cast<std::uint16_t>(m);
    return true;
}

std::string DemoService::Get(const std::string& target) const {
    platform::TcpSocket s;
    if (s.Connect("127.0.0.1", port_, nullptr, 5000) != platform::NetStatus::Ok) {
        return {};
    }
    s.SendAll("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n",
              nullptr, 5000);
    std::string reply;
    char chunk[4096];
    std::size_t n = 0;
    while (s.Receive(chunk, n, nullptr, 10000) == platform::NetStatus::Ok) {
        reply.append(chunk, n);
    }
    const std::size_t body = reply.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : reply.substr(body + 4);
}

void DemoService::Fail(const std::string& mode) const {
    Get("/_control/fail?mode=" + mode);
}

std::vector<std::string> DemoService::Log() const {
    std::vector<std::string> lines;
    std::stringstream ss(Get("/_control/log"));
    std::string line;
    while (std::getline(ss, line)) {
        if (line.rfind("/_control/", 0) != 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

}  // namespace testnet
