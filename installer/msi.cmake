# The Windows Installer package quorvel-<version>.msi, beside the setup
# program, when wixl (msitools) is installed: the same programs, language
# files and documented quorvel.ini (installer/msi.sh, installer/quorvel.wxs).

set(QUORVEL_MSI_NAME quorvel-${PROJECT_VERSION}.msi)
set(QUORVEL_MSI ${PROJECT_BINARY_DIR}/${QUORVEL_MSI_NAME})

find_program(QUORVEL_WIXL wixl)
find_program(QUORVEL_MSIBUILD msibuild)
if(NOT QUORVEL_WIXL OR NOT QUORVEL_MSIBUILD)
    package_tool_missing(quorvel_msi ${QUORVEL_MSI_NAME} wixl "wixl msitools")
    return()
endif()

add_custom_command(
    OUTPUT ${QUORVEL_MSI}
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/msi.sh ${PROJECT_VERSION} ${QUORVEL_MSI}
            ${CMAKE_CURRENT_SOURCE_DIR}/quorvel.wxs
            $<TARGET_FILE:quorvel> $<TARGET_FILE:quorvel_check>
            $<TARGET_FILE:quorvel_msi_actions>
            ${CMAKE_CURRENT_BINARY_DIR}/quorvel.ini
            ${PROJECT_SOURCE_DIR}/resources/quorvel.ico ${PROJECT_SOURCE_DIR}/resources
            ${QUORVEL_SIGN_COMMAND}
    DEPENDS quorvel quorvel_check quorvel_msi_actions
            ${CMAKE_CURRENT_SOURCE_DIR}/msi.sh ${CMAKE_CURRENT_SOURCE_DIR}/quorvel.wxs
            ${CMAKE_CURRENT_BINARY_DIR}/quorvel.ini
            ${PROJECT_SOURCE_DIR}/resources/quorvel.ico ${languages}
            ${QUORVEL_SIGN_CERT} ${QUORVEL_SIGN_KEY}
    COMMENT "Packing ${QUORVEL_MSI_NAME}"
    VERBATIM)
add_custom_target(quorvel_msi ALL DEPENDS ${QUORVEL_MSI})
