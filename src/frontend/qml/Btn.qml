import QtQuick
import QtQuick.Templates as T

// Picture button: the icon's state file follows the button's state.
T.Button {
    id: control

    property string tooltip: ""
    property string iconName
    property real iconWidth: 10
    property real iconHeight
    property bool isCustomHovered: false
    property alias additionalIcon: additionalIcon
    property alias label: label

    focusPolicy: Qt.NoFocus
    hoverEnabled: true
    implicitWidth: iconWidth
    implicitHeight: iconHeight

    // The first state whose condition holds wins.
    states: [
        State {
            name: "disabled"
            when: !control.enabled
        },
        State {
            name: "hovered"
            when: control.enabled && !control.pressed && (control.hovered || control.isCustomHovered)
        },
        State {
            name: "pressed"
            when: control.enabled && control.pressed
        }
    ]

    background: Icon {
        name: control.iconName
        sourceSize.width: control.iconWidth
        sourceSize.height: control.iconHeight
        state: control.state
    }

    Image {
        id: additionalIcon
        visible: source.toString() !== ""
        x: (control.width - width) / 2
        y: (control.height - height) / 2
    }

    Text {
        id: label
        visible: text !== ""
        x: (control.width - width) / 2
        y: (control.height - height) / 2
        horizontalAlignment: Text.AlignHCenter
        font: prop.fonts.font10_13
        color: "white"
    }

    // The template's attached tip is the style's own ToolTip, made on first show; naming the style's
    // type here would compile its document with every window that has a button.
    T.ToolTip.visible: control.hovered && control.tooltip !== ""
    T.ToolTip.text: qsTr(control.tooltip)
}
