#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace brevalto {

// One of the Python stand-ins of tests/Support (run by Debian's /usr/bin/python3) for the life of
// the object: started at construction, which waits for its "ready PORT" line, and terminated at
// destruction. A stand-in that does not start fails the test that made it.
class StandInProcess {
public:
    StandInProcess(const QString& script, const QStringList& arguments);
    ~StandInProcess();
    StandInProcess(const StandInProcess&) = delete;
    StandInProcess& operator=(const StandInProcess&) = delete;

    std::uint16_t port() const { return port_; }
    bool running() const { return process_.state() == QProcess::Running && port_ != 0; }

private:
    QProcess process_;
    std::uint16_t port_ = 0;
};

// The TLS-terminating CONNECT proxy (tls-proxy.py) with its throwaway CA in `folder`: each mapped
// host name goes to the plain-HTTP stand-in on 127.0.0.1 at the mapped port.
class TlsProxyStandIn : public StandInProcess {
public:
    TlsProxyStandIn(const std::filesystem::path& folder, const std::map<std::string, std::uint16_t>& hosts);

    std::filesystem::path authority() const { return folder_ / "ca.pem"; }
    std::string proxyUrl() const { return "http://127.0.0.1:" + std::to_string(port()); }
    // Sets https_proxy and SSL_CERT_FILE for a program to start.
    void addTo(QProcessEnvironment& environment) const;

private:
    std::filesystem::path folder_;
};

// The Messages API stand-in (messages-api.py): a model list and message replies, logging every
// request it receives to `log`. `reply` fixes the text of every reply (by default it echoes);
// `models`, a JSON array of {"id", "display_name"}, replaces the default model list.
class MessagesApiStandIn : public StandInProcess {
public:
    explicit MessagesApiStandIn(const std::filesystem::path& log, const std::string& reply = {},
                                const nlohmann::json& models = nullptr);

    // The requests received so far, each {"method", "path", "headers", "body"}.
    std::vector<nlohmann::json> requests() const;

private:
    std::filesystem::path log_;
};

// The Cloudflare stand-in (cloudflare-api.py): OAuth endpoints under "/oauth2", the REST API under
// "/client/v4" and the public hosts of its buckets (by default one account and the bucket
// "shots" served at pub-shots.r2.dev), logging every request to `log`.
class CloudflareStandIn : public StandInProcess {
public:
    explicit CloudflareStandIn(const std::filesystem::path& log, const QStringList& options = {});

    std::string url(const std::string& path = "") const { return "http://127.0.0.1:" + std::to_string(port()) + path; }
    // The requests received so far, each {"method", "path", "host", "headers", "form", "length"}.
    std::vector<nlohmann::json> requests() const;

private:
    std::filesystem::path log_;
};

}  // namespace brevalto
