#pragma once

#include "uRenewal.h"

#include <QVector>

namespace Renewal {

// The recorded certificates whose last renewal failed, the latest attempt first. None when no
// certificate was ever recorded; a record that cannot be read is left out (renew names it).
QVector<Record> failedRenewals();

} // namespace Renewal
