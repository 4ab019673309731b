#pragma once

// The step engine and the tasks' steps together, for the units that use several of them.
#include "CertificateSteps.h"
#include "KeyAndCertificateSteps.h"
#include "StepEngine.h"
