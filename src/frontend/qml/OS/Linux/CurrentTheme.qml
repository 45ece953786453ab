import QtQuick

// Fonts of the Linux desktop. Each font's first number is its point size here: at this desktop's
// 96 dots per inch it draws as large as the second number does on the Mac, so the layouts that were
// drawn for the Mac fit the same windows.
QtObject {
    readonly property string name: "linux"
    readonly property font defaultFont: Qt.font({ family: "Arial" })

    readonly property QtObject fonts: QtObject {
        readonly property font font7_9: Qt.font({ family: "Arial", pointSize: 7 * scf })
        readonly property font font8_10: Qt.font({ family: "Arial", pointSize: 8 * scf })
        readonly property font font9_12: Qt.font({ family: "Arial", pointSize: 9 * scf })
        readonly property font font10_13: Qt.font({ family: "Arial", pointSize: 10 * scf })
        readonly property font font11_15: Qt.font({ family: "Arial", pointSize: 11 * scf })
        readonly property font font12_16: Qt.font({ family: "Arial", pointSize: 12 * scf })
        readonly property font font13_17: Qt.font({ family: "Arial", pointSize: 13 * scf })
        readonly property font font14_18: Qt.font({ family: "Arial", pointSize: 14 * scf })
        readonly property font font15_19: Qt.font({ family: "Arial", pointSize: 15 * scf })
        readonly property font font16_21: Qt.font({ family: "Arial", pointSize: 16 * scf })
    }
}
