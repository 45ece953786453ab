import QtQuick

// The desktop's fonts at a window's scale; each is named after its sizes here and on the Mac.
QtObject {
    id: fonts

    property real scale: 1

    readonly property font font7_9: fonts.sized(0)
    readonly property font font8_10: fonts.sized(1)
    readonly property font font9_12: fonts.sized(2)
    readonly property font font10_13: fonts.sized(3)
    readonly property font font11_15: fonts.sized(4)
    readonly property font font12_16: fonts.sized(5)
    readonly property font font13_17: fonts.sized(6)
    readonly property font font14_18: fonts.sized(7)
    readonly property font font15_19: fonts.sized(8)
    readonly property font font16_21: fonts.sized(9)

    function sized(index: int): font {
        return Qt.font({ family: CurrentTheme.defaultFont.family,
                         pointSize: CurrentTheme.pointSizes[index] * fonts.scale })
    }
}
