#pragma once
// For the product grid tests: the product table read back as other programs
// read it, through long-lived peers so that a check after every step stays
// cheap: quillmart-cli dump (a process per read), dbfread and Perl XBase
// (one process each, answering a line per request).
#include <QProcess>
#include <QString>
#include <QStringList>

namespace qm::test {

class TablePeers {
 public:
  TablePeers() {
    // Every live record "CODE|NAME|PRICE" in order of entry, one line, then END.
    m_dbfread.start("/usr/bin/python3",
                    {"-u", "-c",
                     "import sys, dbfread\n"
                     "for _ in sys.stdin:\n"
                     "    t = dbfread.DBF('catalog.dbf', encoding='cp437', char_decode_errors='strict')\n"
                     "    for r in t: print('%s|%s|%s' % (r['CODE'], r['NAME'], r['PRICE']))\n"
                     "    print('END', flush=True)\n"});
    // Every CATALOG.NDX entry "key<TAB>record number" in index order, then END.
    m_xbase.start("/usr/bin/perl",
                  {"-MXBase::Index", "-e",
                   "$| = 1; while (<STDIN>) {"
                   " my $i = XBase::Index->new('CATALOG.NDX') or die XBase::Index->errstr;"
                   " $i->prepare_select or die $i->errstr;"
                   " while (my ($k, $n) = $i->fetch) { $k =~ s/ +$//; print \"$k\\t$n\\n\"; }"
                   " print \"END\\n\"; }"});
    m_dbfread.waitForStarted();
    m_xbase.waitForStarted();
  }
  ~TablePeers() {
    for (QProcess* p : {&m_dbfread, &m_xbase}) {
      p->closeWriteChannel();
      p->waitForFinished(5000);
    }
  }
  QStringList Dbfread() { return Ask(m_dbfread); }
  QStringList XBaseIndex() { return Ask(m_xbase); }

 private:
  static QStringList Ask(QProcess& p) {
    p.write("\n");
    QStringList lines;
    for (;;) {
      while (!p.canReadLine())
        if (!p.waitForReadyRead(20000))
          return {QStringLiteral("<no answer: %1>").arg(QString::fromUtf8(p.readAllStandardError()))};
      const QString line = QString::fromUtf8(p.readLine()).chopped(1);
      if (line == QStringLiteral("END")) return lines;
      lines << line;
    }
  }
  QProcess m_dbfread, m_xbase;
};

// quillmart-cli run in the current folder: its standard output, or "exit N: error".
inline QString RunCli(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral(QM_CLI), args);
  p.waitForFinished(30000);
  if (p.exitCode() != 0)
    return QStringLiteral("exit %1: %2").arg(p.exitCode()).arg(QString::fromUtf8(p.readAllStandardError()).trimmed());
  return QString::fromUtf8(p.readAllStandardOutput());
}

}  // namespace qm::test
