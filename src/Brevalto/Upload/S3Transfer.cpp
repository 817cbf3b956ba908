#include "Upload/S3Transfer.h"

#include "Upload/S3Failure.h"

#include <stdexcept>

namespace brevalto {

S3Transfer::S3Transfer(HttpClient& http, HttpClient::Progress progress, std::int64_t responseLimit, bool collectResponse)
    : http_(http), progress_(std::move(progress)), responseLimit_(responseLimit), collectResponse_(collectResponse) {}

HttpResponse S3Transfer::run(HttpRequest request) {
    {
        std::lock_guard guard(lock_);
        if (cancelled_) throw S3Failure::cancelled();
        if (started_) throw std::logic_error("A transfer runs once.");
        started_ = true;
    }
    request.responseLimit = responseLimit_;
    request.keepResponseBody = collectResponse_;

    HttpResponse response;
    try {
        // A cancel() from now on requests a stop that the client sees at once or at its next check.
        response = http_.send(request, stop_.get_token(), progress_);
    } catch (const HttpError& error) {
        std::lock_guard guard(lock_);
        if (cancelled_) throw S3Failure::cancelled();
        if (error.kind() == HttpError::Kind::tooLarge || error.kind() == HttpError::Kind::invalidResponse)
            throw S3Failure::response();
        throw S3Failure::from(std::current_exception());
    } catch (...) {
        std::lock_guard guard(lock_);
        if (cancelled_) throw S3Failure::cancelled();
        throw S3Failure::from(std::current_exception());
    }

    std::lock_guard guard(lock_);
    if (cancelled_) throw S3Failure::cancelled();
    received_ = std::move(response.body);
    response.body.clear();
    return response;
}

void S3Transfer::cancel() {
    {
        std::lock_guard guard(lock_);
        cancelled_ = true;
    }
    stop_.request_stop();
}

std::string S3Transfer::received() const {
    std::lock_guard guard(lock_);
    return received_;
}

}  // namespace brevalto
