import QtQuick

// State shared by the main window's pieces.
QtObject {
    property bool isActiveProduct: true
    property bool loggingActive: true
}
