#include "FailedRenewals.h"

#include "uCertwrightCommon.h"

#include <algorithm>

namespace Renewal {

QVector<Record> failedRenewals() {
    QVector<Record> failed;
    try {
        for (const Record& record : records())
            if (record.lastAttempt.isValid() && !record.lastRenewed)
                failed << record;
    } catch (const PageError&) {
        // No record folder: nothing was ever obtained here, so nothing failed.
        return {};
    }
    std::stable_sort(failed.begin(), failed.end(), [](const Record& one, const Record& other) {
        return one.lastAttempt > other.lastAttempt;
    });
    return failed;
}

} // namespace Renewal
