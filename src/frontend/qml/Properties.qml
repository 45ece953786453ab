import QtQuick

// State shared by a window's pieces, and the desktop's fonts at the window's scale.
QtObject {
    id: properties

    property real scale: 1
    property bool isActiveProduct: true
    property bool loggingActive: true

    readonly property font defaultFont: CurrentTheme.defaultFont
    readonly property string osName: CurrentTheme.name

    readonly property QtObject fonts: QtObject {
        readonly property font font7_9: properties.sized(0)
        readonly property font font8_10: properties.sized(1)
        readonly property font font9_12: properties.sized(2)
        readonly property font font10_13: properties.sized(3)
        readonly property font font11_15: properties.sized(4)
        readonly property font font12_16: properties.sized(5)
        readonly property font font13_17: properties.sized(6)
        readonly property font font14_18: properties.sized(7)
        readonly property font font15_19: properties.sized(8)
        readonly property font font16_21: properties.sized(9)
    }

    function sized(index: int): font {
        return Qt.font({ family: CurrentTheme.defaultFont.family,
                         pointSize: CurrentTheme.pointSizes[index] * properties.scale })
    }
}
