#include "Upload/CloudflareFailure.h"

#include "Platform/HttpClient.h"
#include "Platform/Task.h"
#include "Upload/S3Failure.h"

namespace brevalto {

CloudflareFailure CloudflareFailure::from(std::exception_ptr error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (const CloudflareFailure& failure) {
        return failure;
    } catch (const TaskCancelled&) {
        return CloudflareFailure(cancelledText);
    } catch (const HttpError& httpError) {
        if (httpError.kind() == HttpError::Kind::cancelled) return CloudflareFailure(cancelledText);
    } catch (const S3Failure& failure) {
        // A cancelled transfer ends as the S3 cancel; for R2 work it is the R2 cancel.
        if (failure.kind() == S3Failure::Kind::cancelled) return CloudflareFailure(cancelledText);
    } catch (...) {
    }
    return CloudflareFailure(requestFailedText);
}

}  // namespace brevalto
