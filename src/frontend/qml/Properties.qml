import QtQuick

// State shared by a window's pieces, and the desktop's fonts at the window's scale.
QtObject {
    id: properties

    property real scale: 1
    property bool isActiveProduct: true
    property bool loggingActive: true

    readonly property font defaultFont: CurrentTheme.defaultFont
    readonly property string osName: CurrentTheme.name
    readonly property ThemeFonts fonts: ThemeFonts { scale: properties.scale }
}
