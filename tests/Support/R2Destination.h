#pragma once

#include "Upload/S3Settings.h"

#include <string>

namespace brevalto {

// An R2 destination as the Cloudflare page saves it: the bucket "shots" of one account, linked
// through its public domain (the Cloudflare stand-in's defaults).
inline S3Settings savedR2Destination(const std::string& account = "0123456789abcdef0123456789abcdef") {
    S3Settings r2;
    r2.cloudflareAccountID = account;
    r2.endpoint = "https://api.cloudflare.com/client/v4/accounts/" + account + "/r2/buckets";
    r2.bucket = "shots";
    r2.linkMode = S3Settings::LinkMode::publicURL;
    r2.publicBaseURL = "https://pub-shots.r2.dev";
    return r2;
}

}  // namespace brevalto
