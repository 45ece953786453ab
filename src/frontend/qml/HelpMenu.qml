import QtQuick
import QtQuick.Controls

Menu {
    id: menu

    // The items change height with the scale while the menu is closed; lay the list out anew before
    // it shows, or the items would overlap at their old positions.
    onAboutToShow: contentItem.forceLayout()

    background: Rectangle {
        implicitWidth: 220 * scf
        color: "#032a53"
        border.width: 1
        border.color: "#011b37"
    }

    MenuItemCustom {
        objectName: "helpDeskItem"
        text: "Help Desk"
        onTriggered: {
            menu.close()
            backendLoader.openUrl(backendLoader.makerPageUrl("/helpdesk.html"))
        }
    }
    MenuItemCustom {
        objectName: "logoutItem"
        text: "Logout"
        onTriggered: {
            menu.close()
            backendLoader.logout()
            auth.initialCheck()
        }
    }
    MenuItemCustom {
        text: "Training  Videos"
        onTriggered: {
            menu.close()
            backendLoader.openUrl(backendLoader.servicePageUrl("/zelk-server/redirect-training-videos.php"))
        }
    }
    MenuItemCustom {
        text: "User Guide"
        onTriggered: {
            menu.close()
            backendLoader.openUrl(backendLoader.servicePageUrl("/zelk-server/redirect-user-guide.php"))
        }
    }
    MenuItemCustom {
        objectName: "updatesItem"
        text: "Check For Programs Updates"
        onTriggered: {
            menu.close()
            backendLoader.checkForUpdates()
        }
    }
    MenuItemCustom {
        id: loggingItem
        objectName: "loggingItem"
        checkable: true
        checked: prop.loggingActive
        text: "Logging: " + (checked ? "ON" : "OFF")
        onTriggered: {
            menu.close()
            backendLoader.toggleLogging(checked)
            prop.loggingActive = checked
        }
    }
    MenuItemCustom {
        objectName: "showLogsItem"
        text: "Show Logs"
        onTriggered: {
            menu.close()
            backendLoader.showLogs()
        }
    }
    MenuItemCustom {
        text: "Other Orvane Software Products"
        onTriggered: {
            menu.close()
            backendLoader.openUrl(backendLoader.servicePageUrl("/"))
        }
    }
    MenuItemCustom {
        objectName: "resetScaleItem"
        text: "Reset Gui Resizing"
        isVisible: scf !== 1
        onTriggered: {
            scf = 1
            backendLoader.resetScf()
        }
    }
}
