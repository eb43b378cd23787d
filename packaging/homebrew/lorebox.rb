# Homebrew formula for lorebox, built from the release source tarball.
#
# This copy is the template: `make dist` writes the tarball
# (lorebox-<version>.tar.gz, from `git archive` of HEAD) and, beside it, this
# formula with @URL@ and @SHA256@ filled in for that tarball, so the version
# is written only in CMakeLists.txt. `make dist DIST_URL=<where the tarball
# will be published>` fills in that address instead of the local file. Homebrew
# installs formulae from a tap: see the README's Install section.
class Lorebox < Formula
  desc "Pack local Claude Code and Codex sessions into a Hearthmark archive"
  url "@URL@"
  sha256 "@SHA256@"

  depends_on "cli11" => :build
  depends_on "cmake" => :build
  depends_on "nlohmann-json" => :build
  depends_on "pkgconf" => :build # pkg-config
  depends_on "fmt"
  depends_on "isa-l"
  depends_on "minizip"
  depends_on "simdjson"
  depends_on "zstd"

  uses_from_macos "zlib"

  def install
    system "cmake", "-S", ".", "-B", "build", "-DLOREBOX_TESTS=OFF", *std_cmake_args
    system "cmake", "--build", "build"
    system "cmake", "--install", "build"
  end

  test do
    assert_equal "lorebox #{version}\n", shell_output("#{bin}/lorebox --version")

    # A home with one Claude Code session of two lines: a prompt and a reply.
    session = "11111111-2222-3333-4444-555555555555"
    (testpath/"home/.claude/projects/demo").mkpath
    (testpath/"home/.claude/projects/demo/#{session}.jsonl").write <<~JSONL
      {"type":"user","sessionId":"#{session}","timestamp":"2025-06-01T10:00:00Z","uuid":"u1","message":{"role":"user","content":"Say hello"}}
      {"type":"assistant","sessionId":"#{session}","timestamp":"2025-06-01T10:00:05Z","uuid":"a1","message":{"role":"assistant","content":[{"type":"text","text":"Hello!"}]}}
    JSONL
    output = shell_output("#{bin}/lorebox --claude-dir #{testpath}/home/.claude " \
                          "--codex-dir #{testpath}/home/.codex --dry-run --list")
    assert_match "Found 1 session spanning 2025-06-01 to 2025-06-01", output
    assert_match "1p  Say hello", output
    assert_match "Dry run: nothing was written.", output
    refute_path_exists testpath/"lorebox-2025-06-01.zip"
  end
end
