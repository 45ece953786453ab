#include "QmlTestSetup.h"

#include <QtQuickTest>

QUICK_TEST_MAIN_WITH_SETUP(tst_qml, QmlTestSetup)
