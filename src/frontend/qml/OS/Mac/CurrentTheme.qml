pragma Singleton
import QtQuick

// Fonts of the Mac desktop.
QtObject {
    readonly property string name: "mac"
    readonly property font defaultFont: Qt.font({ family: "Arial" })

    // Point sizes at scale 1 of the fonts font7_9 to font16_21, in that order.
    readonly property list<real> pointSizes: [9, 10, 12, 13, 15, 16, 17, 18, 19, 21]
}
