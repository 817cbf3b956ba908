#include "StandIns.h"

#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <fstream>

namespace brevalto {

StandInProcess::StandInProcess(const QString& script, const QStringList& arguments) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral("/usr/bin/python3"),
                   QStringList{QStringLiteral(BREVALTO_SOURCE_DIR "/tests/Support/") + script} + arguments);
    QDeadlineTimer deadline(20000);
    QByteArray output;
    while (!deadline.hasExpired() && !output.contains('\n') && process_.state() != QProcess::NotRunning) {
        process_.waitForReadyRead(200);
        output += process_.readAllStandardOutput();
    }
    const QList<QByteArray> words = output.left(output.indexOf('\n')).split(' ');
    if (words.size() == 2 && words[0] == "ready") port_ = static_cast<std::uint16_t>(words[1].toUInt());
    if (port_ == 0) ADD_FAILURE() << script.toStdString() << " did not start: " << output.toStdString();
}

StandInProcess::~StandInProcess() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}

namespace {

QStringList proxyArguments(const std::filesystem::path& folder, const std::map<std::string, std::uint16_t>& hosts) {
    QStringList arguments{QStringLiteral("--dir"), QString::fromStdString(folder.string())};
    for (const auto& [host, port] : hosts)
        arguments << QStringLiteral("--map") << QString::fromStdString(host + "=" + std::to_string(port));
    return arguments;
}

}  // namespace

TlsProxyStandIn::TlsProxyStandIn(const std::filesystem::path& folder, const std::map<std::string, std::uint16_t>& hosts)
    : StandInProcess(QStringLiteral("tls-proxy.py"), proxyArguments(folder, hosts)), folder_(folder) {}

void TlsProxyStandIn::addTo(QProcessEnvironment& environment) const {
    environment.insert(QStringLiteral("https_proxy"), QString::fromStdString(proxyUrl()));
    environment.insert(QStringLiteral("SSL_CERT_FILE"), QString::fromStdString(authority().string()));
}

namespace {

QStringList messagesArguments(const std::filesystem::path& log, const std::string& reply, const nlohmann::json& models) {
    QStringList arguments{QStringLiteral("--log"), QString::fromStdString(log.string())};
    if (!reply.empty()) arguments << QStringLiteral("--reply") << QString::fromStdString(reply);
    if (!models.is_null()) {
        const std::filesystem::path file = log.parent_path() / "models.json";
        std::ofstream(file) << models.dump();
        arguments << QStringLiteral("--models") << QString::fromStdString(file.string());
    }
    return arguments;
}

}  // namespace

MessagesApiStandIn::MessagesApiStandIn(const std::filesystem::path& log, const std::string& reply,
                                       const nlohmann::json& models)
    : StandInProcess(QStringLiteral("messages-api.py"), messagesArguments(log, reply, models)), log_(log) {}

namespace {

std::vector<nlohmann::json> logLines(const std::filesystem::path& log) {
    std::vector<nlohmann::json> requests;
    std::ifstream file(log);
    for (std::string line; std::getline(file, line);)
        if (auto entry = nlohmann::json::parse(line, nullptr, false); !entry.is_discarded()) requests.push_back(entry);
    return requests;
}

}  // namespace

std::vector<nlohmann::json> MessagesApiStandIn::requests() const { return logLines(log_); }

CloudflareStandIn::CloudflareStandIn(const std::filesystem::path& log, const QStringList& options)
    : StandInProcess(QStringLiteral("cloudflare-api.py"),
                     QStringList{QStringLiteral("--log"), QString::fromStdString(log.string())} + options),
      log_(log) {}

std::vector<nlohmann::json> CloudflareStandIn::requests() const { return logLines(log_); }

}  // namespace brevalto
