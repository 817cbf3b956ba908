#include "Upload/S3Failure.h"

#include "Platform/HttpClient.h"
#include "Platform/Task.h"

namespace brevalto {

S3Failure S3Failure::http(int status) {
    std::string text;
    const std::string n = std::to_string(status);
    if (status >= 301 && status <= 399)
        text = "S3 redirects are refused. Check the endpoint and region; Authorization is never forwarded to another host.";
    else if (status == 401 || status == 403)
        text = "S3 HTTP " + n + ". Check your keys and bucket or object permissions.";
    else if (status == 404)
        text = "S3 HTTP 404. Check the bucket or object.";
    else if (status == 429)
        text = "S3 rate limit reached. The retry limit has been exhausted.";
    else
        text = "S3 HTTP " + n + ". Response content is hidden to protect data and keys.";
    return S3Failure(Kind::http, status, text);
}

S3Failure S3Failure::network(int code) {
    return S3Failure(Kind::network, code,
                     "S3 connection failed (code " + std::to_string(code) + "). URLs and credentials are hidden.");
}

S3Failure S3Failure::credentials(std::int32_t status) {
    return S3Failure(Kind::credentials, status,
                     "S3 keyring access failed (code " + std::to_string(status) +
                         "). Enter keys for this endpoint and bucket.");
}

S3Failure S3Failure::storage() {
    return S3Failure(Kind::storage, 0,
                     "Could not read or save upload history. Existing data is preserved; new uploads are blocked.");
}

S3Failure S3Failure::collision() {
    return S3Failure(Kind::collision, 0, "This object key belongs to another upload. It will not be overwritten or deleted.");
}

S3Failure S3Failure::cancelled() {
    return S3Failure(Kind::cancelled, 0,
                     "Cancelled. The server may have received the object; check history before retrying.");
}

S3Failure S3Failure::response() {
    return S3Failure(Kind::response, 0, "The S3 response is invalid or exceeds 64 KiB.");
}

S3Failure S3Failure::from(std::exception_ptr error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (const S3Failure& failure) {
        return failure;
    } catch (const TaskCancelled&) {
        return cancelled();
    } catch (const HttpError& httpError) {
        if (httpError.kind() == HttpError::Kind::cancelled) return cancelled();
        return network(httpError.code());
    } catch (...) {
    }
    return invalid("Could not complete the S3 operation. Unverified error data is hidden.");
}

}  // namespace brevalto
