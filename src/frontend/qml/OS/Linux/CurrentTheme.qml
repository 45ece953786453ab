pragma Singleton
import QtQuick

// Fonts of the Linux desktop. Each font's first number is its point size here: at this desktop's
// 96 dots per inch it draws as large as the second number does on the Mac, so the layouts that were
// drawn for the Mac fit the same windows.
QtObject {
    readonly property string name: "linux"
    readonly property font defaultFont: Qt.font({ family: "Arial" })

    // Point sizes at scale 1 of the fonts font7_9 to font16_21, in that order.
    readonly property list<real> pointSizes: [7, 8, 9, 10, 11, 12, 13, 14, 15, 16]
}
