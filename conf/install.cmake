# "cmake --install <build> --prefix DIR": an installation that changes this machine's own table.
# Everything the program runs from goes to DIR/lib/corvane/ (the program finds conf/ and the
# stand-ins beside itself): netsh there is set to the system store, the settings say OS=Linux,
# and the factory table is glibc's built-in one. A desktop entry goes to DIR/share/applications/,
# the manual pages to DIR/share/man/man8/.
# The user's files (settings, saved table) are written on the first installation only.
set(corvane_install_dir lib/corvane)
install(TARGETS zarntool corvane netsh ipconfig chmread RUNTIME DESTINATION ${corvane_install_dir})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/man/corvane.8 ${PROJECT_SOURCE_DIR}/packaging/man/corvane-gui.8
        DESTINATION share/man/man8)
install(DIRECTORY ${CORVANE_STAGE_DIR}/conf/langs DESTINATION ${corvane_install_dir}/conf)
install(FILES ${PROJECT_SOURCE_DIR}/conf/policytable.conf.linux DESTINATION ${corvane_install_dir}/conf
        RENAME policytable.conf.default)
install(CODE "
  set(dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${corvane_install_dir}\")
  file(WRITE \"\${dir}/netsh.conf\" \"# The table netsh changes: system (/etc/gai.conf and the kernel's labels) or file.\\nstore=system\\n\")
  if(NOT EXISTS \"\${dir}/conf/zarntool.ini\")
    file(READ \"${PROJECT_SOURCE_DIR}/conf/zarntool.ini\" ini)
    string(REGEX REPLACE \"\\nOS=[^\\r\\n]*\" \"\\nOS=Linux\" ini \"\${ini}\")
    file(WRITE \"\${dir}/conf/zarntool.ini\" \"\${ini}\")
  endif()
  if(NOT EXISTS \"\${dir}/conf/policytable.conf\")
    file(COPY_FILE \"${PROJECT_SOURCE_DIR}/conf/policytable.conf.linux\" \"\${dir}/conf/policytable.conf\")
  endif()
  set(apps \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/applications\")
  file(MAKE_DIRECTORY \"\${apps}\")
  file(WRITE \"\${apps}/corvane.desktop\" \"[Desktop Entry]
Type=Application
Name=Corvane
Comment=IPv6 address selection policy editor (changes this machine's table; run as root)
Exec=\${CMAKE_INSTALL_PREFIX}/${corvane_install_dir}/zarntool
Path=\${CMAKE_INSTALL_PREFIX}/${corvane_install_dir}
Terminal=false
Categories=Network;System;
\")
")
