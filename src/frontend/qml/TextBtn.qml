import QtQuick

// Pill-shaped text button: a gradient frame around a gradient fill, per state.
Rectangle {
    id: control

    signal clicked()

    property alias text: label.text
    property alias font: label.font
    property real verticalOffset: 0
    property real horizontalOffset: 0
    property alias labelComponent: label
    property bool isCustomHovered: false

    property Gradient frameGradientU: Gradient {
        GradientStop { position: 0.0; color: "#FFFFFF" }
        GradientStop { position: 1.0; color: "#0212AE" }
    }
    property Gradient fillGradientU: Gradient {
        GradientStop { position: 0.0; color: "#1C2E9B" }
        GradientStop { position: 1.0; color: "#021244" }
    }
    property Gradient frameGradientF: Gradient {
        GradientStop { position: 0.0; color: "#FFFFFF" }
        GradientStop { position: 1.0; color: "#0212AE" }
    }
    property Gradient fillGradientF: Gradient {
        GradientStop { position: 0.0; color: "#0071BC" }
        GradientStop { position: 1.0; color: "#021244" }
    }
    property Gradient frameGradientD: Gradient {
        GradientStop { position: 0.0; color: "#FFFFFF" }
        GradientStop { position: 1.0; color: "#0212AE" }
    }
    property Gradient fillGradientD: Gradient {
        GradientStop { position: 0.0; color: "#021244" }
        GradientStop { position: 1.0; color: "#1C2E9B" }
    }
    property Gradient frameGradientX: Gradient {
        GradientStop { position: 0.0; color: "#999999" }
        GradientStop { position: 1.0; color: "#999999" }
    }
    property Gradient fillGradientX: Gradient {
        GradientStop { position: 0.0; color: "#B3B3B3" }
        GradientStop { position: 1.0; color: "#4D4D4D" }
    }

    readonly property string visualState: !enabled ? "disabled"
                                          : mouseArea.pressed ? "pressed"
                                          : (mouseArea.containsMouse || isCustomHovered) ? "hovered"
                                          : "normal"

    radius: height / 2
    gradient: visualState === "disabled" ? frameGradientX
              : visualState === "pressed" ? frameGradientD
              : visualState === "hovered" ? frameGradientF
              : frameGradientU

    Rectangle {
        anchors.fill: parent
        anchors.margins: 1
        radius: control.radius - scf
        gradient: control.visualState === "disabled" ? control.fillGradientX
                  : control.visualState === "pressed" ? control.fillGradientD
                  : control.visualState === "hovered" ? control.fillGradientF
                  : control.fillGradientU
    }

    Text {
        id: label
        anchors.centerIn: parent
        anchors.verticalCenterOffset: control.verticalOffset
        anchors.horizontalCenterOffset: control.horizontalOffset
        font: prop.fonts.font11_15
        color: control.enabled ? "white" : "#B3B3B3"
    }

    MouseArea {
        id: mouseArea
        anchors.fill: parent
        hoverEnabled: true
        onClicked: {
            if (control.enabled)
                control.clicked()
        }
    }
}
