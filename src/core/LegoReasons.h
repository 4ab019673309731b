#pragma once

#include "AcmeValues.h"

#include <QString>

// Why a run of lego failed, in plain words for the user, from what lego wrote.
namespace Acme {

// The plain reason in lego's output (its last complaint when it names none that is known):
// the authority's problem with a name, the temporary web server's port (httpPort), the
// authority's address or HTTPS certificate, the web root, the DNS record's update (by the
// values' DNS provider) or lookup.
QString plainReason(const QString& legoOutput, const AcmeValues& values);

} // namespace Acme
