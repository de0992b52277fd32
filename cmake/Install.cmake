# What `cmake --install` puts in place: the two programs, the desktop entry, the file type of
# .etl files and the icon.
include(GNUInstallDirs)

install(TARGETS pendrill pendrill-admin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/data/pendrill.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/data/pendrill-etl.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME pendrill.xml)
install(FILES ${CMAKE_SOURCE_DIR}/data/icons/pendrill.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/data/icons/hicolor/${size}x${size}/apps/pendrill.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# Manual pages, bash completion of pendrill-admin, and the nightly-run examples.
install(FILES ${CMAKE_SOURCE_DIR}/docs/man/pendrill.1 ${CMAKE_SOURCE_DIR}/docs/man/pendrill-admin.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/docs/man/pendrill.etl.5 DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
install(FILES ${CMAKE_SOURCE_DIR}/data/completion/pendrill-admin.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME pendrill-admin)
set(PENDRILL_EXAMPLES_DIR ${CMAKE_INSTALL_DATADIR}/doc/pendrill/examples)
install(FILES ${CMAKE_SOURCE_DIR}/examples/systemd/pendrill-nightly@.service
              ${CMAKE_SOURCE_DIR}/examples/systemd/pendrill-nightly@.timer
              ${CMAKE_SOURCE_DIR}/examples/systemd/pendrill-failure@.service
              ${CMAKE_SOURCE_DIR}/examples/systemd/pendrill-metrics.service
              ${CMAKE_SOURCE_DIR}/examples/systemd/pendrill-metrics.timer
        DESTINATION ${PENDRILL_EXAMPLES_DIR}/systemd)
install(FILES ${CMAKE_SOURCE_DIR}/examples/cron/pendrill.crontab
        DESTINATION ${PENDRILL_EXAMPLES_DIR}/cron)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/examples/cron/pendrill-cron
        DESTINATION ${PENDRILL_EXAMPLES_DIR}/cron)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/examples/hooks/notify-failure.sh
        DESTINATION ${PENDRILL_EXAMPLES_DIR}/hooks)
# The examples name the programs as installed under /usr/local, the manual pages the examples'
# directory there; an install elsewhere (--prefix) gets its own paths in them.
string(CONFIGURE [[
    set(bin "${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_BINDIR@")
    set(examples "${CMAKE_INSTALL_PREFIX}/@PENDRILL_EXAMPLES_DIR@")
    set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    foreach(f systemd/pendrill-nightly@.service systemd/pendrill-metrics.service cron/pendrill-cron cron/pendrill.crontab)
        set(path "${root}/@PENDRILL_EXAMPLES_DIR@/${f}")
        file(READ "${path}" text)
        string(REPLACE "/usr/local/bin" "${bin}" text "${text}")
        file(WRITE "${path}" "${text}")
    endforeach()
    foreach(page pendrill.1 pendrill-admin.1)
        set(path "${root}/@CMAKE_INSTALL_MANDIR@/man1/${page}")
        file(READ "${path}" text)
        string(REPLACE "/usr/local/share/doc/pendrill/examples" "${examples}" text "${text}")
        file(WRITE "${path}" "${text}")
    endforeach()
]] PENDRILL_EXAMPLES_FIXUP @ONLY)
install(CODE "${PENDRILL_EXAMPLES_FIXUP}")
