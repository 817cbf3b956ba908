#pragma once

#include "TestFolder.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include <memory>
#include <string>

namespace brevalto {

// The S3-compatible server s3rver (installed by scripts/setup) on 127.0.0.1 with the given
// bucket, storing into a folder of its own. `endpoint` stays empty when it did not start.
// s3rver ignores If-None-Match (it overwrites) and does not check signatures.
class S3rver {
public:
    explicit S3rver(const QString& bucket, const QStringList& extra = {}) {
        process_->setProcessChannelMode(QProcess::MergedChannels);
        process_->start("node", QStringList{BREVALTO_SOURCE_DIR "/.cache/s3rver/node_modules/s3rver/bin/s3rver.js", "-d",
                                            QString::fromStdString(folder_.path()), "-a", "127.0.0.1", "-p", "0",
                                            "--configure-bucket", bucket} + extra);
        for (QString out; endpoint.empty() && process_->waitForReadyRead(20'000);) {
            const auto match = QRegularExpression("listening on 127\\.0\\.0\\.1:(\\d+)").match(out += process_->readAll());
            if (match.hasMatch()) {
                port = match.captured(1).toStdString();
                endpoint = "http://127.0.0.1:" + port;
            }
        }
    }

    std::string endpoint;
    std::string port;

private:
    TestFolder folder_;
    std::unique_ptr<QProcess> process_ = std::make_unique<QProcess>();
};

}  // namespace brevalto
