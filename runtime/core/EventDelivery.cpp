#include "EventDelivery.h"

#include "ErrorPath.h"

#include <exception>

namespace runtime {

void deliver(const std::function<void()> &handler)
{
    if (endingError())
        return;
    try {
        handler();
    } catch (const RuntimeError &error) {
        reportAndEnd(error);
    } catch (const std::exception &error) {
        reportAndEnd(
            RuntimeError(ErrorNumber::Internal, std::string("internal error: ") + error.what()));
    } catch (...) {
        reportAndEnd(RuntimeError(ErrorNumber::Internal, "internal error: an unknown exception"));
    }
}

} // namespace runtime
