#pragma once

#include <QtGlobal>

// Preconditions of the sample code stay checked in release builds: a violated
// one would otherwise read or write outside a sample buffer. The message quotes
// the expression, as Q_ASSERT does.
#define TMB_ASSERT(cond) TMB_ASSERT_TEXT(cond, #cond)

// For checks whose quoted text must stay exactly as documented even where the
// formatter spaces the expression differently.
#define TMB_ASSERT_TEXT(cond, text)                                                                \
    ((cond) ? static_cast<void>(0)                                                                 \
            : qFatal("ASSERT: \"%s\" in file %s, line %d", text, __FILE__, __LINE__))
